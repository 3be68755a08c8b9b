// The piece that starts at a position under the o200k split, with
// U = [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}], W = [\p{Ll}\p{Lm}\p{Lo}\p{M}] and
// C = (?i:'s|'t|'re|'ve|'m|'ll|'d):
//   [^\r\n\p{L}\p{N}]?U*W+C?|[^\r\n\p{L}\p{N}]?U+W*C?|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n/]*|
//   \s*[\r\n]+|\s+(?!\S)|\s+
#pragma once

#include <cstddef>

#include "tokenizer/pretok/scan_text.hpp"

namespace tessaron::pretok {

namespace o200k {

inline constexpr ClassSet kU = set_of(kUpper) | set_of(kLetterOther) | set_of(kMark);
inline constexpr ClassSet kW = set_of(kLower) | set_of(kLetterOther) | set_of(kMark);

// The end of U*W+ from s, where the character c starts, or s when it does not match. U* takes
// all it can and gives back until W+ matches: past the U run when a lower-case letter follows
// it, else up to its last character that is also in W.
inline std::size_t upper_then_lower(const ScanText& t, std::size_t s, CharAt c) {
    std::size_t e = s;
    std::size_t after_last_w = s;
    while (set_of(c.cls) & kU) {
        e += c.length;
        if (set_of(c.cls) & kW) after_last_w = e;
        if (e == t.size()) return after_last_w;
        c = t.at(e);
    }
    // c, the character that ended the U run, is read once.
    if (c.cls == kLower) return t.run(e + c.length, kW);
    return after_last_w;
}

// The end of U+W* from s, where the character c starts, or s when it does not match.
inline std::size_t upper_first(const ScanText& t, std::size_t s, CharAt c) {
    if (!(set_of(c.cls) & kU)) return s;
    return t.run(t.run(s + c.length, kU), kW);
}

// The piece at i when it and the character after it are ASCII (or the text ends), which
// settles it without the general alternatives; else i. Most pieces of most texts are such.
inline std::size_t ascii_piece_end(const ScanText& t, std::size_t i) {
    const ClassSet first = t.ascii_set(i);
    const ClassSet second = t.ascii_set(i + 1);
    if ((first & kLetters) || ((first & kLetterPrefix) && (second & kLetters))) {
        // In ASCII, U*W+ is [A-Z]*[a-z]+ and U+W* then [A-Z]+: one run of each.
        const std::size_t s = (first & kLetters) ? i : i + 1;
        const std::size_t e = t.ascii_lowers(t.ascii_uppers(s));
        return t.beyond_ascii(e) ? i : t.contraction(e, true);
    }
    if (first == set_of(kNumber)) return t.ascii_numbers(i);
    // No word starts at i or i + 1, unless a longer character there is a letter or mark.
    if ((first & kPunctuation) || (t.byte(i) == ' ' && (second & kPunctuation))) {
        std::size_t e = t.ascii_punctuation(i);
        if (e == i) return i;
        while (e < t.size() && (t.byte(e) == '\r' || t.byte(e) == '\n' || t.byte(e) == '/')) ++e;
        return e;
    }
    return i;
}

}  // namespace o200k

// Always inlined, as cl100k_piece_end: a call per piece took a tenth of English's instructions.
[[gnu::always_inline]] inline std::size_t o200k_piece_end(const ScanText& t, std::size_t i) {
    if (const std::size_t e = o200k::ascii_piece_end(t, i); e != i) return e;
    const CharAt first = t.at(i);
    const std::size_t next = i + first.length;
    const ClassSet cls = set_of(first.cls);
    const bool prefix = (cls & kLetterPrefix) && next < t.size();
    // Each word alternative is tried with its optional first character, then without; a word
    // starts with a letter or mark, which most other pieces settle with one character read.
    constexpr ClassSet kWordStart = o200k::kU | o200k::kW;
    const CharAt second = prefix ? t.at(next) : CharAt{kOther, 0};
    const bool word_next = prefix && (set_of(second.cls) & kWordStart);
    if (word_next || (cls & kWordStart)) {
        for (const auto word : {o200k::upper_then_lower, o200k::upper_first}) {
            if (word_next) {
                if (const std::size_t e = word(t, next, second); e != next) {
                    return t.contraction(e, true);
                }
            }
            if (const std::size_t e = word(t, i, first); e != i) return t.contraction(e, true);
        }
    }
    if (first.cls == kNumber) return t.numbers(i);
    const bool spaced = t.byte(i) == ' ' && t.in(next, kPunctuation);
    if (spaced || (cls & kPunctuation)) {
        std::size_t e = t.run(next, kPunctuation);
        while (e < t.size() && (t.byte(e) == '\r' || t.byte(e) == '\n' || t.byte(e) == '/')) ++e;
        return e;
    }
    const ScanText::SpaceRun r = t.space_run(i);
    if (r.after_newline != i) return r.after_newline;
    return t.spaces_before_piece(i, r.last, r.end);
}

}  // namespace tessaron::pretok
