// Cuts a text into the pieces of a split pattern, in order; together they are the text.
#pragma once

#include <cstddef>
#include <string_view>

#include "tokenizer/pretok/cl100k_scanner.hpp"
#include "tokenizer/pretok/gpt2_scanner.hpp"
#include "tokenizer/pretok/o200k_scanner.hpp"
#include "tokenizer/pretok/regex_matcher.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::pretok {

// Calls emit(begin, end) with the byte offsets of each piece.
template <class Emit>
void for_each_piece(const SplitPattern& pattern, std::string_view text, Emit&& emit) {
    if (!pattern.scanner()) {
        RegexMatcher(*pattern.program()).for_each_piece(text, emit);
        return;
    }
    const ScanText t(text);
    const auto scan = [&](auto piece_end) {
        for (std::size_t i = 0; i < t.size();) {
            const std::size_t e = piece_end(t, i);
            emit(i, e);
            i = e;
        }
    };
    switch (*pattern.scanner()) {
    // A lambda each, so that every loop inlines its scanner.
    case Scanner::kGpt2:
        scan([](const ScanText& s, std::size_t i) { return gpt2_piece_end(s, i); });
        break;
    case Scanner::kCl100k:
        scan([](const ScanText& s, std::size_t i) { return cl100k_piece_end(s, i); });
        break;
    case Scanner::kO200k:
        scan([](const ScanText& s, std::size_t i) { return o200k_piece_end(s, i); });
        break;
    }
}

}  // namespace tessaron::pretok
