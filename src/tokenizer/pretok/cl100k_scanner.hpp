// The piece that starts at a position under the cl100k split:
//   '(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|
//   \s++$|\s*[\r\n]|\s+(?!\S)|\s
#pragma once

#include <cstddef>

#include "tokenizer/pretok/scan_text.hpp"

namespace tessaron::pretok {

inline std::size_t cl100k_piece_end(const ScanText& t, std::size_t i) {
    if (const std::size_t e = t.contraction(i, true); e != i) return e;
    const CharAt first = t.at(i);
    const std::size_t next = i + first.length;
    const ClassSet cls = set_of(first.cls);
    if ((cls & kLetters) || ((cls & kLetterPrefix) && t.in(next, kLetters))) {
        return t.run(next, kLetters);
    }
    if (first.cls == kNumber) return t.numbers(i);
    const bool spaced = t.byte(i) == ' ' && t.in(next, kPunctuation);
    if (spaced || (cls & kPunctuation)) {
        return t.run(t.run(next, kPunctuation), set_of(kNewline));
    }
    const ScanText::SpaceRun r = t.space_run(i);
    if (r.end == t.size()) return r.end;
    if (r.after_newline != i) return r.after_newline;
    return t.spaces_before_piece(i, r.last, r.end);
}

}  // namespace tessaron::pretok
