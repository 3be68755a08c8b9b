// A set of code points as sorted, disjoint ranges, with a bitmap for ASCII so that the common
// case is one test.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace tessaron::pretok {

inline constexpr char32_t kLastCodePoint = 0x10FFFF;

class CodePointSet {
public:
    void add(char32_t first, char32_t last);
    void add(const CodePointSet& other);
    // Every code point whose properties byte, masked, is one of `wanted` (a bit per value).
    void add_by_category(std::uint32_t categories);
    void add_by_flag(std::uint8_t flag_bit, bool with_flag);
    void negate();
    // Adds every code point equal to one in the set ignoring case.
    void close_under_case();
    // Ranges sorted and merged; needed before contains() and comparisons.
    void normalize();

    bool contains(char32_t c) const {
        if (c < 128) return (ascii_[c >> 6] >> (c & 63)) & 1;
        std::size_t lo = first_wide_;
        std::size_t hi = ranges_.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (ranges_[mid].second < c) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo < ranges_.size() && ranges_[lo].first <= c;
    }

    std::size_t range_count() const { return ranges_.size(); }

private:
    std::vector<std::pair<char32_t, char32_t>> ranges_;
    std::uint64_t ascii_[2] = {0, 0};
    std::size_t first_wide_ = 0;  // the first range that reaches past ASCII
};

}  // namespace tessaron::pretok
