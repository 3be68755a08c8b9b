// How a text is cut into pieces: by one of the hand-written scanners, for the three named
// patterns, or by the pattern engine for any other expression.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "tokenizer/pretok/regex_program.hpp"

namespace tessaron::pretok {

enum class Scanner { kGpt2, kCl100k, kO200k };

// Cheap to copy: a compiled program is shared.
class SplitPattern {
public:
    explicit SplitPattern(Scanner scanner);
    SplitPattern(std::string expression, std::shared_ptr<const RegexProgram> program)
        : expression_(std::move(expression)), program_(std::move(program)) {}

    std::optional<Scanner> scanner() const { return scanner_; }
    // Set when there is no scanner.
    const RegexProgram* program() const { return program_.get(); }
    // What a model file stores.
    const std::string& expression() const { return expression_; }

private:
    std::optional<Scanner> scanner_;
    std::string expression_;
    std::shared_ptr<const RegexProgram> program_;
};

// "gpt2", "cl100k", "o200k" or the expression of one of them as model files and the libraries
// that made them write it: its scanner; any other expression: its program, or why the engine
// cannot run it. Programs are compiled once per process and kept.
std::variant<SplitPattern, PatternError> split_pattern(std::string_view name_or_expression);

// The scanner of "gpt2", "cl100k", "o200k" or of the expression of one of them.
std::optional<Scanner> find_scanner(std::string_view name_or_expression);
// The expression a model file stores.
std::string_view expression_of(Scanner scanner);
// The same spelled so that Hugging Face's regex engine splits alike.
std::string_view huggingface_expression_of(Scanner scanner);

// Why Hugging Face's regex engine would not split as this expression does here (it cannot
// run, or it holds a construct that engine reads otherwise); empty when it splits alike.
std::string huggingface_difference(std::string_view expression);

}  // namespace tessaron::pretok
