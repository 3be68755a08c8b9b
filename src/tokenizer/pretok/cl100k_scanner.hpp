// The piece that starts at a position under the cl100k split:
//   '(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|
//   \s++$|\s*[\r\n]|\s+(?!\S)|\s
#pragma once

#include <cstddef>

#include "tokenizer/pretok/scan_text.hpp"

namespace tessaron::pretok {

namespace cl100k {

// The piece at i, after any contraction, when it and the character after it are ASCII (or
// the text ends), which settles it without the general alternatives; else i.
inline std::size_t ascii_piece_end(const ScanText& t, std::size_t i) {
    const ClassSet first = t.ascii_set(i);
    const ClassSet second = t.ascii_set(i + 1);
    if ((first & kLetters) || ((first & kLetterPrefix) && (second & kLetters))) {
        const std::size_t e = t.ascii_letters(i + 1);
        return t.beyond_ascii(e) ? i : e;
    }
    if (first == set_of(kNumber)) return t.ascii_numbers(i);
    // No word starts at i or i + 1, unless a longer character there is a letter.
    if ((first & kPunctuation) || (t.byte(i) == ' ' && (second & kPunctuation))) {
        const std::size_t e = t.ascii_punctuation(i);
        return e == i ? i : t.ascii_run(e, set_of(kNewline));
    }
    return i;
}

}  // namespace cl100k

// Always inlined: the split encoder has a loop per kind of piece cache, and the compiler would
// otherwise call it per piece (a tenth more instructions on English).
[[gnu::always_inline]] inline std::size_t cl100k_piece_end(const ScanText& t, std::size_t i) {
    if (const std::size_t e = t.contraction(i, true); e != i) return e;
    if (const std::size_t e = cl100k::ascii_piece_end(t, i); e != i) return e;
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
