// Whether merges cross between two tokens of an ordered model written side by side.
//
// In an ordered model token 256 + r is made by the rule of rank r. Encode the bytes of a left
// token x followed by those of a right token y: until some merge joins the two sides, each
// side is merged exactly as it is alone. The tokens standing at the seam are then a token of
// x's last edge (x, its last part, that one's last part, and so on down to a byte) and one of
// y's first edge. A rule of rank r joins a from x's edge to b from y's edge exactly when r comes
// before the rule that merges a into its parent and no later than the one that merges b (on
// the right a tie crosses: the leftmost occurrence of that rule goes first); both then stand
// at time r. So the seam is crossed exactly when some such pair has a rule in time, and only
// the few tokens of each edge that any rule could still join in time need to be tried.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tokenizer/basic/rule_ranks.hpp"

namespace tessaron::basic {

class TokenSeams {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;

    // `left` and `right` are the parts of the rule of each rank; the model must be ordered.
    // `build` readies `crossed`; `build_joins` then readies `joins`.
    void build(const std::vector<std::uint32_t>& left, const std::vector<std::uint32_t>& right);
    void build_joins(const std::vector<std::uint32_t>& left,
                     const std::vector<std::uint32_t>& right);
    void clear();

    // Whether, in the bytes of `left` then `right` encoded alone, some merge joins the two
    // sides while `left` is not yet merged at rank `left_until` nor `right` at `right_until`
    // (~0: never). Walks both edges; adds the steps taken to `steps`.
    bool crossed(const RuleRanks& ranks, std::uint32_t left, std::uint32_t right,
                 std::uint64_t left_until, std::uint64_t right_until, std::size_t& steps) const;

    // Whether the bytes of `left` then `right`, two tokens that each encode to themselves,
    // encode to exactly left, right. Adds the rule look-ups made to `steps`.
    bool joins(const RuleRanks& ranks, std::uint32_t left, std::uint32_t right,
               std::size_t& steps) const {
        const Edge& a = last_edge_[left];
        const Edge& b = first_edge_[right];
        if (a.overflow | b.overflow)
            return !crossed(ranks, left, right, ~std::uint64_t{0}, ~std::uint64_t{0}, steps);
        // The pairs that a rule could join in time, found without branches, a row of the
        // right edge's places at a time. A used place has lowest < until on the left and
        // lowest <= until on the right.
        const Row b_lowest = row_at(b.lowest);
        const Row b_until = row_at(b.until);
        Row rows = {0, 0, 0, 0};
        for (unsigned i = 0; i < kEdgeTokens; ++i) {
            const Row in_time = (b_lowest < a.until[i]) & (a.lowest[i] <= b_until);
            rows |= in_time & Row{1u, 2u, 4u, 0u} << (kEdgeTokens * i);
        }
        unsigned candidates = rows[0] | rows[1] | rows[2];
        // Most tests have at most two candidates: theirs are filtered without branches (an
        // absent one reads the last place and is masked off), so that the loop below usually
        // has nothing to do.
        auto filtered = [&](unsigned k) {
            const std::uint64_t h = filter_bit(a.token[k / kEdgeTokens], b.token[k % kEdgeTokens]);
            return static_cast<unsigned>((rule_filter_[h >> 6] >> (h & 63)) & 1) << k;
        };
        constexpr unsigned kLast = 1u << (kEdgeTokens * kEdgeTokens - 1);
        const unsigned second = candidates & (candidates - 1);
        unsigned passed = filtered(static_cast<unsigned>(std::countr_zero(candidates | kLast)));
        passed |= filtered(static_cast<unsigned>(std::countr_zero(second | kLast)));
        passed &= candidates;
        for (unsigned more = second & (second - 1); more != 0; more &= more - 1) {
            passed |= filtered(static_cast<unsigned>(std::countr_zero(more)));
        }
        while (passed != 0) {
            const auto k = static_cast<unsigned>(std::countr_zero(passed));
            passed &= passed - 1;
            const std::uint32_t u = a.token[k / kEdgeTokens];
            const std::uint32_t v = b.token[k % kEdgeTokens];
            ++steps;
            const std::uint32_t r = ranks.rank(u, v);
            if (r != RuleRanks::kNoRank && r < a.until[k / kEdgeTokens] &&
                r <= b.until[k % kEdgeTokens]) {
                return false;
            }
        }
        return true;
    }

    // Readies what joins() reads of `left` as the left token, so that its load overlaps the
    // search for the token after it.
    void prefetch_left(std::uint32_t left) const {
        const auto* edge = reinterpret_cast<const char*>(&last_edge_[left]);
        __builtin_prefetch(edge);
        __builtin_prefetch(edge + sizeof(Edge) - 1);
    }
    // The same for `right` as the right token, asked while the search still walks to it.
    void prefetch_right(std::uint32_t right) const {
        const auto* edge = reinterpret_cast<const char*>(&first_edge_[right]);
        __builtin_prefetch(edge);
        __builtin_prefetch(edge + sizeof(Edge) - 1);
    }

private:
    struct Parts {
        std::uint32_t left;  // for made tokens
        std::uint32_t right;
        // The lowest rank of a rule with the token as its left (right) part; kNone when none.
        std::uint32_t lowest_as_left;
        std::uint32_t lowest_as_right;
    };

    // The tokens of one edge that some rule could join in time, with the rank before which
    // (left) or up to which (right) it must come, and the lowest rank of a rule that could.
    // An unused place can never pass the test. Edges with more such tokens are walked.
    static constexpr unsigned kEdgeTokens = 3;
    struct Edge {
        std::uint32_t token[kEdgeTokens];
        std::uint32_t until[kEdgeTokens];
        std::uint32_t lowest[kEdgeTokens];
        std::uint32_t overflow;
    };

    // The three places of an edge's field and the word after them, which is masked off.
    static_assert(kEdgeTokens == 3 && offsetof(Edge, lowest) == offsetof(Edge, until) + 12 &&
                  offsetof(Edge, overflow) == offsetof(Edge, lowest) + 12);
    using Row = std::uint32_t __attribute__((vector_size(16)));
    static Row row_at(const std::uint32_t* places) {
        Row row;
        std::memcpy(&row, places, sizeof row);
        return row;
    }

    std::uint64_t filter_bit(std::uint32_t left, std::uint32_t right) const {
        return (((std::uint64_t{left} << 32) | right) * 0x9E3779B97F4A7C15ULL) >> filter_shift_;
    }

    std::vector<Parts> parts_;  // per token
    std::vector<Edge> last_edge_;  // per token, as the left one of two
    std::vector<Edge> first_edge_;  // per token, as the right one
    // A bit per hashed rule pair, small enough for the first cache level: most pairs that pass
    // the timing test have no rule, and the bit saves their look-up.
    std::vector<std::uint64_t> rule_filter_;
    unsigned filter_shift_ = 63;
};

}  // namespace tessaron::basic
