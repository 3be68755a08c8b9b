#include "tokenizer/pretok/code_point_set.hpp"

#include <algorithm>

#include "tokenizer/pretok/unicode_properties.hpp"

namespace tessaron::pretok {

void CodePointSet::add(char32_t first, char32_t last) { ranges_.emplace_back(first, last); }

void CodePointSet::add(const CodePointSet& other) {
    ranges_.insert(ranges_.end(), other.ranges_.begin(), other.ranges_.end());
}

namespace {

template <class Holds>
void add_where(std::vector<std::pair<char32_t, char32_t>>& ranges, Holds holds) {
    bool open = false;
    char32_t first = 0;
    for (char32_t c = 0; c <= kLastCodePoint; ++c) {
        const bool in = holds(properties_of(c));
        if (in && !open) first = c;
        if (!in && open) ranges.emplace_back(first, c - 1);
        open = in;
    }
    if (open) ranges.emplace_back(first, kLastCodePoint);
}

}  // namespace

void CodePointSet::add_by_category(std::uint32_t categories) {
    add_where(ranges_, [&](std::uint8_t p) { return (categories >> (p & kCategoryBits)) & 1; });
}

void CodePointSet::add_by_flag(std::uint8_t flag_bit, bool with_flag) {
    add_where(ranges_, [&](std::uint8_t p) { return ((p & flag_bit) != 0) == with_flag; });
}

void CodePointSet::normalize() {
    std::sort(ranges_.begin(), ranges_.end());
    std::vector<std::pair<char32_t, char32_t>> merged;
    for (const auto& r : ranges_) {
        if (!merged.empty() && r.first <= merged.back().second + 1) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    ranges_ = std::move(merged);
    ascii_[0] = ascii_[1] = 0;
    first_wide_ = 0;
    for (const auto& [first, last] : ranges_) {
        for (char32_t c = first; c <= last && c < 128; ++c)
            ascii_[c >> 6] |= std::uint64_t{1} << (c & 63);
        if (last < 128) ++first_wide_;
    }
}

void CodePointSet::negate() {
    normalize();
    std::vector<std::pair<char32_t, char32_t>> gaps;
    char32_t next = 0;
    for (const auto& [first, last] : ranges_) {
        if (first > next) gaps.emplace_back(next, first - 1);
        next = last + 1;
    }
    if (next <= kLastCodePoint) gaps.emplace_back(next, kLastCodePoint);
    ranges_ = std::move(gaps);
    normalize();
}

void CodePointSet::close_under_case() {
    normalize();
    // What a member matches ignoring case; not followed further, as `regex` does not.
    std::vector<std::pair<char32_t, char32_t>> added;
    for (std::size_t k = 0; k < kCasePairCount; ++k) {
        if (contains(kCasePairs[2 * k]))
            added.emplace_back(kCasePairs[2 * k + 1], kCasePairs[2 * k + 1]);
    }
    ranges_.insert(ranges_.end(), added.begin(), added.end());
    normalize();
}

}  // namespace tessaron::pretok
