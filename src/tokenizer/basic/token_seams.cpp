#include "tokenizer/basic/token_seams.hpp"

#include <algorithm>
#include <bit>

namespace tessaron::basic {

void TokenSeams::clear() {
    parts_.clear();
    last_edge_.clear();
    first_edge_.clear();
    rule_filter_.clear();
}

void TokenSeams::build(const std::vector<std::uint32_t>& left,
                       const std::vector<std::uint32_t>& right) {
    clear();
    const std::size_t tokens = 256 + left.size();
    parts_.assign(tokens, Parts{kNone, kNone, kNone, kNone});
    for (std::size_t r = left.size(); r-- > 0;) {
        parts_[256 + r].left = left[r];
        parts_[256 + r].right = right[r];
        parts_[left[r]].lowest_as_left = static_cast<std::uint32_t>(r);
        parts_[right[r]].lowest_as_right = static_cast<std::uint32_t>(r);
    }
}

void TokenSeams::build_joins(const std::vector<std::uint32_t>& left,
                             const std::vector<std::uint32_t>& right) {
    const std::size_t tokens = parts_.size();
    const Edge unused{{0, 0, 0}, {0, 0, 0}, {kNone, kNone, kNone}, 0};
    last_edge_.assign(tokens, unused);
    first_edge_.assign(tokens, unused);
    auto add = [](Edge& edge, unsigned& count, std::uint32_t token, std::uint32_t until,
                  std::uint32_t lowest) {
        if (count == kEdgeTokens) {
            edge.overflow = 1;
            return;
        }
        edge.token[count] = token;
        edge.until[count] = until;
        edge.lowest[count] = lowest;
        ++count;
    };
    for (std::size_t t = 0; t < tokens; ++t) {
        unsigned count = 0;
        std::uint32_t until = kNone;  // the token itself is never merged here
        for (auto a = static_cast<std::uint32_t>(t);;) {
            // On the left a rule must come strictly before the parent's.
            const std::uint32_t lowest = parts_[a].lowest_as_left;
            if (lowest != kNone && lowest < until) add(last_edge_[t], count, a, until, lowest);
            if (a < 256) break;
            until = a - 256;
            a = parts_[a].right;
        }
        count = 0;
        until = kNone;
        for (auto b = static_cast<std::uint32_t>(t);;) {
            const std::uint32_t lowest = parts_[b].lowest_as_right;
            if (lowest != kNone && lowest <= until) add(first_edge_[t], count, b, until, lowest);
            if (b < 256) break;
            until = b - 256;
            b = parts_[b].left;
        }
    }

    const auto bits = std::max(15u, static_cast<unsigned>(std::bit_width(left.size() * 32)));
    rule_filter_.assign((std::size_t{1} << bits) / 64, 0);
    filter_shift_ = 64 - bits;
    for (std::size_t r = 0; r < left.size(); ++r) {
        const std::uint64_t h = filter_bit(left[r], right[r]);
        rule_filter_[h >> 6] |= std::uint64_t{1} << (h & 63);
    }
}

// Undoes the later-made of the two tokens at the seam each step, so that every pair that ever
// stands there is tried.
bool TokenSeams::crossed(const RuleRanks& ranks, std::uint32_t left, std::uint32_t right,
                         std::uint64_t left_until, std::uint64_t right_until,
                         std::size_t& steps) const {
    std::uint32_t u = left;
    std::uint32_t v = right;
    for (;; ++steps) {
        // A rule for (u, v) ranks no lower than any rule of u on the left or of v on the right;
        // most pairs are ruled out by that alone, without a look-up.
        const Parts& us = parts_[u];
        const Parts& vs = parts_[v];
        const std::uint32_t floor = std::max(us.lowest_as_left, vs.lowest_as_right);
        if (floor != kNone && floor < left_until && floor <= right_until) {
            const std::uint32_t r = ranks.rank(u, v);
            if (r != RuleRanks::kNoRank && r < left_until && r <= right_until) return true;
        }
        if (u < 256 && v < 256) return false;
        if (u > v) {
            left_until = u - 256;
            u = us.right;
        } else {
            right_until = v - 256;
            v = vs.left;
        }
    }
}

}  // namespace tessaron::basic
