#include "tokenizer/pretok/split_pattern.hpp"

#include <array>

namespace tessaron::pretok {

namespace {

struct Known {
    SplitPattern pattern;
    std::string_view name;
    std::string_view expression;
};

// The first expression of each pattern is the one model files get. The second GPT-2 one is
// tiktoken's rewrite, which splits alike.
constexpr std::array kKnown = {
    Known{SplitPattern::kGpt2, "gpt2",
          R"('s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)"},
    Known{SplitPattern::kGpt2, "gpt2",
          R"('(?:[sdmt]|ll|ve|re)| ?\p{L}++| ?\p{N}++| ?[^\s\p{L}\p{N}]++|\s++$|\s+(?!\S)|\s)"},
    Known{SplitPattern::kCl100k, "cl100k",
          R"('(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++)"
          R"([\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s)"},
    // Hugging Face's regex engine reads `{1,3}+` as a repeat of the count, not as possessive;
    // without the mark the pattern splits alike, since nothing follows the count.
    Known{SplitPattern::kCl100k, "cl100k",
          R"('(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}| ?[^\s\p{L}\p{N}]++)"
          R"([\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s)"},
    Known{SplitPattern::kO200k, "o200k",
          R"([^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+)"
          R"((?i:'s|'t|'re|'ve|'m|'ll|'d)?|[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+)"
          R"([\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?|\p{N}{1,3}|)"
          R"( ?[^\s\p{L}\p{N}]+[\r\n/]*|\s*[\r\n]+|\s+(?!\S)|\s+)"},
};

const Known& known(SplitPattern pattern) {
    for (const Known& k : kKnown) {
        if (k.pattern == pattern) return k;
    }
    return kKnown[0];
}

}  // namespace

std::optional<SplitPattern> find_split_pattern(std::string_view name_or_expression) {
    for (const Known& k : kKnown) {
        if (name_or_expression == k.name || name_or_expression == k.expression) return k.pattern;
    }
    return std::nullopt;
}

std::string_view name_of(SplitPattern pattern) { return known(pattern).name; }
std::string_view expression_of(SplitPattern pattern) { return known(pattern).expression; }

std::string_view huggingface_expression_of(SplitPattern pattern) {
    return pattern == SplitPattern::kCl100k ? kKnown[3].expression : expression_of(pattern);
}

}  // namespace tessaron::pretok
