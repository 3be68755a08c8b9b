// Ascending positions stored as the gaps between them, seven bits a byte, low bits first;
// a byte below 128 ends a gap. The lists of frequent pairs are dense, so most gaps take one
// byte where a plain position takes four.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace tessaron::basic {

// Without a loop: gaps in the lists of rare pairs vary too much for a branch to guess. And
// without a division: (bits + 6) * 37 / 256 is bits / 7 rounded up for every width of a gap
// (a division by seven took eight instructions, and training sizes every list it writes).
constexpr std::size_t gap_size(std::uint64_t gap) {
    const auto bits = static_cast<std::size_t>(std::bit_width(gap | 1));
    return (bits + 6) * 37 >> 8;
}
static_assert([] {
    for (unsigned bits = 1; bits <= 64; ++bits) {
        if (gap_size(std::uint64_t{1} << (bits - 1)) != (bits + 6) / 7) return false;
    }
    return true;
}());

// The bytes of the gaps between neighbours of ascending positions, as gap_size adds them up,
// but from comparisons that the compiler does for several gaps at once (a merge step sizes
// the list part of every pair it forms this way).
template <class Position>
constexpr std::uint64_t gaps_size(std::span<const Position> positions) {
    std::uint64_t bytes = 0;
    for (std::size_t i = 1; i < positions.size(); ++i) {
        const Position gap = positions[i] - positions[i - 1];
        Position size = 1;
        for (unsigned bits = 7; bits < sizeof(Position) * 8; bits += 7) size += gap >> bits != 0;
        bytes += size;
    }
    return bytes;
}
static_assert([] {
    // Two gaps on either side of each width's bound.
    for (unsigned bits = 1; bits < 64; ++bits) {
        const std::uint64_t below = (std::uint64_t{1} << bits) - 1;
        const std::uint64_t size = gap_size(below) + gap_size(below + 1);
        const std::uint64_t wide[] = {0, below, 2 * below + 1};
        if (gaps_size<std::uint64_t>(wide) != size) return false;
        const auto narrow = static_cast<std::uint32_t>(below);
        const std::uint32_t narrows[] = {0, narrow, 2 * narrow + 1};
        if (bits < 32 && gaps_size<std::uint32_t>(narrows) != size) return false;
    }
    return true;
}());

// Writes a list; the first gap is the first position itself.
class PositionWriter {
public:
    explicit PositionWriter(std::uint8_t* out) : out_(out) {}

    // Continues a list whose last position so far is `last`.
    void resume_after(std::uint64_t last) { last_ = last; }

    void put(std::uint64_t position) {
        std::uint64_t gap = position - last_;
        last_ = position;
        while (gap >= 128) {
            *out_++ = static_cast<std::uint8_t>(gap | 128);
            gap >>= 7;
        }
        *out_++ = static_cast<std::uint8_t>(gap);
    }
    // As put, with one four-byte store and no branch on the gap's size when it takes at most
    // three bytes: about two gaps in five of the first lists take a second byte, too often for
    // a branch to guess. The store runs up to three bytes past the gap, which must be free to
    // overwrite: the list's own, written later.
    void put_ahead(std::uint64_t position) {
        static_assert(std::endian::native == std::endian::little);
        const std::uint64_t gap = position - last_;
        if (gap >> 21 != 0) {
            put(position);
            return;
        }
        last_ = position;
        const std::uint32_t second = gap >> 7 != 0;
        const std::uint32_t third = gap >> 14 != 0;
        const auto word = static_cast<std::uint32_t>((gap & 0x7F) | ((gap << 1) & 0x7F00) |
                                                     ((gap << 2) & 0x7F0000)) |
                          second << 7 | third << 15;
        std::memcpy(out_, &word, sizeof word);
        out_ += 1 + second + third;
    }
    std::uint8_t* end() const { return out_; }

private:
    std::uint8_t* out_;
    std::uint64_t last_ = 0;
};

class PositionReader {
public:
    PositionReader(const std::uint8_t* begin, const std::uint8_t* end) : at_(begin), end_(end) {}

    bool done() const { return at_ == end_; }
    // Moves past up to n positions; gives the number passed, fewer only at the end.
    std::uint64_t skip(std::uint64_t n) {
        std::uint64_t passed = 0;
        for (; passed < n && !done(); ++passed) next();
        return passed;
    }
    std::uint64_t next() {
        std::uint64_t gap = *at_++;
        if (gap >= 128) {
            gap &= 127;
            for (unsigned shift = 7;; shift += 7) {
                const std::uint64_t byte = *at_++;
                gap |= (byte & 127) << shift;
                if (byte < 128) break;
            }
        }
        position_ += gap;
        return position_;
    }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
    std::uint64_t position_ = 0;
};

}  // namespace tessaron::basic
