// The text as the scanners see it: bytes, read one character at a time with its class.
#pragma once

#include <cstddef>
#include <string_view>

#include "tokenizer/pretok/char_class.hpp"

namespace tessaron::pretok {

class ScanText {
public:
    explicit ScanText(std::string_view text)
        : p_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()) {}

    std::size_t size() const { return n_; }
    unsigned char byte(std::size_t i) const { return p_[i]; }
    // Position i is before the end.
    CharAt at(std::size_t i) const { return char_at(p_ + i, n_ - i); }
    bool in(std::size_t i, ClassSet set) const { return i < n_ && (set_of(at(i).cls) & set); }

    // The end of the longest run of characters of `set` from i.
    std::size_t run(std::size_t i, ClassSet set) const {
        while (i < n_) {
            const CharAt c = at(i);
            if (!(set_of(c.cls) & set)) break;
            i += c.length;
        }
        return i;
    }

    // \p{N}{1,3} from a number at i.
    std::size_t numbers(std::size_t i) const {
        std::size_t e = i + at(i).length;
        for (int k = 1; k < 3 && in(e, set_of(kNumber)); ++k) e += at(e).length;
        return e;
    }

    // The end of `'s`, `'t`, `'re`, `'ve`, `'m`, `'ll` or `'d` at i, or i when there is none;
    // ignoring case, where `'s` also matches the long s (U+017F).
    std::size_t contraction(std::size_t i, bool ignore_case) const {
        if (i + 1 >= n_ || p_[i] != '\'') return i;
        const auto lower = [&](std::size_t k) -> unsigned char {
            const unsigned char b = p_[k];
            return ignore_case && b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : b;
        };
        const unsigned char a = lower(i + 1);
        if (a == 's' || a == 't' || a == 'm' || a == 'd') return i + 2;
        if (ignore_case && p_[i + 1] == 0xC5 && i + 2 < n_ && p_[i + 2] == 0xBF) return i + 3;
        if (i + 2 >= n_) return i;
        const unsigned char b = lower(i + 2);
        if ((a == 'r' && b == 'e') || (a == 'v' && b == 'e') || (a == 'l' && b == 'l')) {
            return i + 3;
        }
        return i;
    }

    // `\s+(?!\S)`, then `\s`, from i, where a run of white space ends at `end` after its last
    // character starting at `last`: the run gives back its last character to the piece that
    // follows, unless the text ends there or the run is that one character.
    std::size_t spaces_before_piece(std::size_t i, std::size_t last, std::size_t end) const {
        return end == n_ || last == i ? end : last;
    }

    // The run of white space from i: its end and where its last character starts, and where the
    // character after its last \r or \n starts (i when there is none).
    struct SpaceRun {
        std::size_t end;
        std::size_t last;
        std::size_t after_newline;
    };
    SpaceRun space_run(std::size_t i) const {
        SpaceRun r{i, i, i};
        while (r.end < n_) {
            const CharAt c = at(r.end);
            if (!(set_of(c.cls) & kWhiteSpace)) break;
            r.last = r.end;
            r.end += c.length;
            if (c.cls == kNewline) r.after_newline = r.end;
        }
        return r;
    }

private:
    const unsigned char* p_;
    std::size_t n_;
};

}  // namespace tessaron::pretok
