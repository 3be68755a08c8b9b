// The text as the scanners see it: bytes, read one character at a time with its class.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

    // The fast paths of the scanners: ASCII characters read a byte at a time. The set of the
    // character at i when it is ASCII, else no class (past the end, or a longer character).
    ClassSet ascii_set(std::size_t i) const { return i < n_ ? kAsciiSets[p_[i]] : 0; }
    // Whether the character at i is a longer one, which only the general path may judge.
    bool beyond_ascii(std::size_t i) const { return i < n_ && p_[i] >= 0x80; }
    // The end of the run of ASCII characters of `set` from i.
    std::size_t ascii_run(std::size_t i, ClassSet set) const {
        while (i < n_ && (kAsciiSets[p_[i]] & set)) ++i;
        return i;
    }
    // The same for the sets of letters, eight bytes at a time: words end at unforeseeable
    // lengths, and a branch per byte costs a mispredicted branch per word.
    std::size_t ascii_uppers(std::size_t i) const { return ascii_range_run<'A', 'Z', false>(i); }
    std::size_t ascii_lowers(std::size_t i) const { return ascii_range_run<'a', 'z', false>(i); }
    std::size_t ascii_letters(std::size_t i) const { return ascii_range_run<'a', 'z', true>(i); }

    // \p{N}{1,3} from an ASCII digit at i, or i when a longer character may be a fourth.
    std::size_t ascii_numbers(std::size_t i) const {
        std::size_t e = i + 1;
        while (e < i + 3 && (ascii_set(e) & set_of(kNumber))) ++e;
        return e < i + 3 && beyond_ascii(e) ? i : e;
    }
    // The end of the run of punctuation from i + 1, after a first ASCII character of it at i
    // or a space, or i when a longer character may take part.
    std::size_t ascii_punctuation(std::size_t i) const {
        if (beyond_ascii(i + 1)) return i;
        const std::size_t e = ascii_run(i + 1, kPunctuation);
        return beyond_ascii(e) ? i : e;
    }

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
    static constexpr std::uint64_t kEachByte = 0x0101010101010101;

    // Per byte of x, 0x80 when it is an ASCII character in [lo, hi], else 0. No sum carries
    // into the next byte: each adds at most 0xFE to seven bits.
    static std::uint64_t ascii_bytes_in(std::uint64_t x, unsigned lo, unsigned hi) {
        const std::uint64_t low = x & (kEachByte * 0x7F);
        const std::uint64_t from_lo = low + kEachByte * (0x80 - lo);
        const std::uint64_t past_hi = low + kEachByte * (0x7F - hi);
        return from_lo & ~past_hi & ~x & (kEachByte * 0x80);
    }

    // The end of the run from i of ASCII characters in [Lo, Hi]; with Fold, of either case
    // (setting bit 5 maps A-Z onto a-z and no other ASCII character into it).
    template <unsigned Lo, unsigned Hi, bool Fold>
    std::size_t ascii_range_run(std::size_t i) const {
        for (; i + 8 <= n_; i += 8) {
            std::uint64_t x;
            std::memcpy(&x, p_ + i, 8);
            if (Fold) x |= kEachByte * 0x20;
            const std::uint64_t outside = ~ascii_bytes_in(x, Lo, Hi) & (kEachByte * 0x80);
            if (outside == 0) continue;
            const int bits = std::endian::native == std::endian::little ? std::countr_zero(outside)
                                                                        : std::countl_zero(outside);
            return i + static_cast<std::size_t>(bits / 8);
        }
        for (; i < n_; ++i) {
            const unsigned b = Fold ? p_[i] | 0x20u : p_[i];
            if (b < Lo || b > Hi) break;
        }
        return i;
    }

    const unsigned char* p_;
    std::size_t n_;
};

}  // namespace tessaron::pretok
