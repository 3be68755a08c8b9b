// Applies the rules to one segment of text (a stretch no token can reach out of).
//
// The segment is a list of tokens over its byte slots: a token lives at the slot of its first
// byte, `next` leads to the following token, and the slot of a token's last byte (when it is
// not the first) holds the token's start, which is how a token finds its left neighbour. Each
// live slot carries the rank of the rule joining it to its right neighbour. A tournament tree
// over blocks of slots, keyed by (rank, slot), yields the lowest rank and, among equals, the
// leftmost slot, in O(log n) per change.
//
// Ordered rules (see EncodeTables::ordered) merge one occurrence at a time: a merge creates
// only pairs of higher rank, so the leftmost lowest occurrence is always the next one the
// round-by-round rule would take. Other rules run in rounds: pairs created while a rule is
// being applied stay out of the tree until no occurrence of it is left, then join again.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"

namespace tessaron::basic {

// `Filtered` looks pairs up through RuleRanks::rank_filtered, for text never seen.
template <bool Rounds, bool Filtered = false>
class SegmentMerger {
public:
    explicit SegmentMerger(const EncodeTables& tables) : tables_(tables) {}

    // Appends the tokens (EncodeTables numbering) of bytes[0..n) to `out`; 2 <= n < 2**32 - 16.
    void encode(const unsigned char* bytes, std::uint32_t n, std::vector<std::uint32_t>& out) {
        start(bytes, n);
        std::uint32_t* tok = tok_.data();
        std::uint32_t* rank = rank_.data();
        std::uint32_t* next = next_.data();
        std::uint32_t round = kNoRank;
        for (;;) {
            const std::uint64_t top = tree_[1];
            const auto r = static_cast<std::uint32_t>(top >> 32);
            if constexpr (Rounds) {
                if (r != round && !pending_.empty()) {
                    rejoin(n);
                    continue;
                }
                round = r;
            }
            if (r == kNoRank) break;
            const auto j = static_cast<std::uint32_t>(top);
            const std::uint32_t k = next[j];
            const std::uint32_t after = next[k];
            const std::uint32_t made = made_by(r);
            tok[j] = made;
            next[j] = after;
            next[k] = kDead;
            tok[after - 1] = j;
            rank[k] = kNoRank;
            const bool has_left = j > 0;
            const std::uint32_t p = has_left ? (next[j - 1] == kDead ? tok[j - 1] : j - 1) : 0;
            if constexpr (Rounds) {
                rank[j] = kNoRank;
                pending_.push_back(j);
                if (has_left) {
                    rank[p] = kNoRank;
                    pending_.push_back(p);
                }
            } else {
                rank[j] = after < n ? rank_of(made, tok[after]) : kNoRank;
                if (has_left) rank[p] = rank_of(tok[p], made);
            }
            const std::uint32_t bj = j / kBlock;
            const std::uint32_t bk = k / kBlock;
            refresh(bj);
            if (bk != bj) refresh(bk);
            if (has_left && p / kBlock != bj) refresh(p / kBlock);
        }
        for (std::uint32_t i = 0; i < n; i = next[i]) out.push_back(tok[i]);
    }

private:
    static constexpr std::uint32_t kNoRank = EncodeTables::kNoRank;
    static constexpr std::uint32_t kDead = 0xFFFFFFFF;
    static constexpr std::uint32_t kBlock = 8;  // block_min reads exactly eight
    static constexpr std::uint64_t kNoKey = ~std::uint64_t{0};

    std::uint32_t rank_of(std::uint32_t left, std::uint32_t right) const {
        if constexpr (Filtered) {
            return tables_.rank_filtered(left, right);
        } else {
            return tables_.rank(left, right);
        }
    }

    std::uint32_t made_by(std::uint32_t rank) const {
        if constexpr (Rounds) {
            return tables_.token_of_rank(rank);
        } else {
            return 256 + rank;
        }
    }

    void start(const unsigned char* bytes, std::uint32_t n) {
        const std::uint32_t blocks = (n + kBlock - 1) / kBlock;
        const std::uint32_t slots = blocks * kBlock;
        if (tok_.size() < slots) {
            tok_.resize(slots);
            rank_.resize(slots);
            next_.resize(slots);
        }
        leaves_ = std::bit_ceil(blocks);
        if (tree_.size() < 2 * std::size_t{leaves_}) tree_.resize(2 * std::size_t{leaves_});
        pending_.clear();
        std::uint32_t* tok = tok_.data();
        std::uint32_t* rank = rank_.data();
        std::uint32_t* next = next_.data();
        for (std::uint32_t i = 0; i + 1 < n; ++i) {
            tok[i] = bytes[i];
            next[i] = i + 1;
            rank[i] = tables_.byte_rank(bytes[i], bytes[i + 1]);
        }
        tok[n - 1] = bytes[n - 1];
        next[n - 1] = n;
        std::fill(rank + n - 1, rank + slots, kNoRank);
        for (std::uint32_t b = 0; b < leaves_; ++b) {
            tree_[leaves_ + b] = b < blocks ? block_min(b) : kNoKey;
        }
        for (std::uint32_t i = leaves_ - 1; i >= 1; --i) {
            tree_[i] = std::min(tree_[2 * i], tree_[2 * i + 1]);
        }
    }

    std::uint64_t block_min(std::uint32_t b) const {
        const std::uint32_t base = b * kBlock;
        const std::uint32_t* rank = rank_.data() + base;
        auto key = [&](std::uint32_t i) { return (std::uint64_t{rank[i]} << 32) | (base + i); };
        // Pairwise, to keep the dependency chain short.
        const std::uint64_t a = std::min(std::min(key(0), key(1)), std::min(key(2), key(3)));
        const std::uint64_t c = std::min(std::min(key(4), key(5)), std::min(key(6), key(7)));
        return std::min(a, c);
    }

    // Climbs only while the minimum below a node changes.
    void refresh(std::uint32_t b) {
        std::uint32_t i = leaves_ + b;
        std::uint64_t value = block_min(b);
        while (tree_[i] != value) {
            tree_[i] = value;
            if (i == 1) break;
            value = std::min(value, tree_[i ^ 1]);
            i >>= 1;
        }
    }

    // The end of a round: pairs made during it get their ranks.
    void rejoin(std::uint32_t n) {
        const std::uint32_t* tok = tok_.data();
        const std::uint32_t* next = next_.data();
        for (std::uint32_t i : pending_) {
            if (next[i] == kDead) continue;
            rank_[i] = next[i] < n ? rank_of(tok[i], tok[next[i]]) : kNoRank;
            refresh(i / kBlock);
        }
        pending_.clear();
    }

    const EncodeTables& tables_;
    std::vector<std::uint32_t> tok_;
    std::vector<std::uint32_t> rank_;
    std::vector<std::uint32_t> next_;
    std::vector<std::uint64_t> tree_;  // 1-based; leaves from leaves_ on
    std::vector<std::uint32_t> pending_;
    std::uint32_t leaves_ = 1;
};

}  // namespace tessaron::basic
