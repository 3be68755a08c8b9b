#include "tokenizer/pretok/split_pattern.hpp"

#include <array>
#include <map>
#include <mutex>

namespace tessaron::pretok {

namespace {

struct Known {
    Scanner scanner;
    std::string_view name;
    std::string_view expression;
};

// The first expression of each pattern is the one model files get. The second GPT-2 one is
// tiktoken's rewrite, which splits alike.
constexpr std::array kKnown = {
    Known{Scanner::kGpt2, "gpt2",
          R"('s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)"},
    Known{Scanner::kGpt2, "gpt2",
          R"('(?:[sdmt]|ll|ve|re)| ?\p{L}++| ?\p{N}++| ?[^\s\p{L}\p{N}]++|\s++$|\s+(?!\S)|\s)"},
    Known{Scanner::kCl100k, "cl100k",
          R"('(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++)"
          R"([\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s)"},
    // Hugging Face's regex engine reads `{1,3}+` as a repeat of the count, not as possessive;
    // without the mark the pattern splits alike, since nothing follows the count.
    Known{Scanner::kCl100k, "cl100k",
          R"('(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}| ?[^\s\p{L}\p{N}]++)"
          R"([\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s)"},
    Known{Scanner::kO200k, "o200k",
          R"([^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+)"
          R"((?i:'s|'t|'re|'ve|'m|'ll|'d)?|[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+)"
          R"([\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?|\p{N}{1,3}|)"
          R"( ?[^\s\p{L}\p{N}]+[\r\n/]*|\s*[\r\n]+|\s+(?!\S)|\s+)"},
};

const Known& known(Scanner scanner) {
    for (const Known& k : kKnown) {
        if (k.scanner == scanner) return k;
    }
    return kKnown[0];
}

// Encoding asks for the model's pattern on every call; kept programs make that a look-up.
// Bounded, so that a process that meets many patterns does not grow without end.
constexpr std::size_t kKeptPrograms = 64;

class KeptPrograms {
public:
    std::shared_ptr<const RegexProgram> find(std::string_view expression) {
        const std::lock_guard lock(mutex_);
        const auto found = programs_.find(expression);
        return found == programs_.end() ? nullptr : found->second;
    }

    void keep(std::string_view expression, std::shared_ptr<const RegexProgram> program) {
        const std::lock_guard lock(mutex_);
        if (programs_.size() >= kKeptPrograms) programs_.erase(programs_.begin());
        programs_.emplace(std::string(expression), std::move(program));
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const RegexProgram>, std::less<>> programs_;
};

KeptPrograms& kept_programs() {
    static KeptPrograms kept;
    return kept;
}

}  // namespace

SplitPattern::SplitPattern(Scanner scanner)
    : scanner_(scanner), expression_(known(scanner).expression) {}

std::variant<SplitPattern, PatternError> split_pattern(std::string_view name_or_expression) {
    if (const auto scanner = find_scanner(name_or_expression)) return SplitPattern(*scanner);
    std::string expression(name_or_expression);
    if (auto program = kept_programs().find(expression)) {
        return SplitPattern(std::move(expression), std::move(program));
    }
    auto compiled = compile_regex(expression);
    if (auto* error = std::get_if<PatternError>(&compiled)) return std::move(*error);
    auto program =
        std::make_shared<const RegexProgram>(std::move(std::get<RegexProgram>(compiled)));
    kept_programs().keep(expression, program);
    return SplitPattern(std::move(expression), std::move(program));
}

std::optional<Scanner> find_scanner(std::string_view name_or_expression) {
    for (const Known& k : kKnown) {
        if (name_or_expression == k.name || name_or_expression == k.expression) return k.scanner;
    }
    return std::nullopt;
}

std::string_view expression_of(Scanner scanner) { return known(scanner).expression; }

std::string_view huggingface_expression_of(Scanner scanner) {
    return scanner == Scanner::kCl100k ? kKnown[3].expression : expression_of(scanner);
}

std::string huggingface_difference(std::string_view expression) {
    auto pattern = split_pattern(expression);
    if (const auto* error = std::get_if<PatternError>(&pattern)) {
        return "the split pattern cannot be run: " + error->message;
    }
    const RegexProgram* program = std::get<SplitPattern>(pattern).program();
    if (program == nullptr || program->read_otherwise_by_oniguruma.empty()) return {};
    return "the split pattern holds " + program->read_otherwise_by_oniguruma +
           ", which Hugging Face's regex engine reads otherwise";
}

}  // namespace tessaron::pretok
