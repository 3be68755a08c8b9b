// libFuzzer target: the pattern compiler and matcher on arbitrary bytes. The input up to its
// first zero byte is the pattern, the rest the text. A pattern is either refused with a
// message or compiled; then the pieces of the text must be non-empty and make up the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "tokenizer/pretok/regex_matcher.hpp"
#include "tokenizer/pretok/regex_program.hpp"

using namespace tessaron;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string_view pattern = input.substr(0, zero);
    const std::string_view text = zero == std::string_view::npos ? "" : input.substr(zero + 1);
    const auto compiled = pretok::compile_regex(pattern);
    if (const auto* error = std::get_if<pretok::PatternError>(&compiled)) {
        if (error->message.empty()) std::abort();
        return 0;
    }
    std::size_t covered = 0;
    pretok::RegexMatcher(std::get<pretok::RegexProgram>(compiled))
        .for_each_piece(text, [&](std::size_t begin, std::size_t end) {
            if (begin != covered || end <= begin) std::abort();
            covered = end;
        });
    if (covered != text.size()) std::abort();
    return 0;
}
