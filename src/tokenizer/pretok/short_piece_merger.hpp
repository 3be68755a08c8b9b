// The rule-ordered merge of a piece of a few tokens (most pieces a text splits into): a scan
// of all its pairs for the lowest rank each step costs less than setting up the segment
// merger's tree, and at most kLongest tokens keep the scans' total small. A piece starts as
// its bytes, with the characters that may start as their tokens in their place.
//
// Each step waits for the ranks of the pairs its new token forms, which for text never seen
// lie in a table too large for the processor's cache. Several pieces merged side by side,
// one step each in turn, wait for their look-ups at once instead of one after another.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"
#include "tokenizer/pretok/char_tokens.hpp"

namespace tessaron::pretok {

class ShortPieceMerger {
public:
    // Tokens at the start, at most.
    static constexpr std::uint32_t kLongest = 32;
    // Bytes of a piece that may start as at most kLongest tokens.
    static constexpr std::uint32_t kLongestBytes = 2 * kLongest;

    // Appends the tokens of bytes[0..n) to `out`, for ordered tables, 2 <= n <= kLongestBytes;
    // false, with nothing appended, when the piece starts as more than kLongest tokens.
    static bool encode(const basic::EncodeTables& tables, const CharTokens& chars,
                       const unsigned char* bytes, std::uint32_t n,
                       std::vector<std::uint32_t>& out) {
        ShortPieceMerger piece;
        if (!piece.start(tables, chars, bytes, n)) return false;
        merge_together(tables, std::span(&piece, 1));
        out.insert(out.end(), piece.tokens().begin(), piece.tokens().end());
        return true;
    }

    // The pieces, each started, merged to the end.
    static void merge_together(const basic::EncodeTables& tables,
                               std::span<ShortPieceMerger> pieces) {
        // Enough in flight to cover the wait for memory; a piece done makes room for the next.
        constexpr std::size_t kInFlight = 32;
        for (ShortPieceMerger& piece : pieces) piece.finish_start(tables);
        std::size_t live[kInFlight];
        std::size_t live_count = 0;
        std::size_t next = 0;
        while (live_count < kInFlight && next < pieces.size()) live[live_count++] = next++;
        while (live_count > 0) {
            for (std::size_t k = 0; k < live_count;) {
                if (pieces[live[k]].step(tables)) {
                    ++k;
                } else if (next < pieces.size()) {
                    live[k] = next++;
                } else {
                    live[k] = live[--live_count];
                }
            }
            for (std::size_t k = 0; k < live_count; ++k) pieces[live[k]].update(tables);
        }
    }

    // The bytes as tokens, characters that `chars` knows as theirs; 2 <= n <= kLongestBytes.
    // False when that is more than kLongest tokens, which this merger does not take.
    bool start(const basic::EncodeTables& tables, const CharTokens& chars,
               const unsigned char* bytes, std::uint32_t n) {
        m_ = 0;
        for (std::uint32_t i = 0; i < n;) {
            std::uint32_t token;
            const std::uint32_t length = bytes[i] < 0x80 ? 0 : chars.at(bytes, i, n, token);
            tok_[m_++] = length == 0 ? bytes[i] : token;
            i += length == 0 ? 1 : length;
        }
        if (m_ > kLongest) return false;
        // A pair with a character's token is looked up in the large table: its load starts
        // here and is awaited when the merge starts, with those of the pieces beside it.
        wide_ = 0;
        for (std::uint32_t i = 0; i + 1 < m_; ++i) {
            if ((tok_[i] | tok_[i + 1]) < 256) {
                rank_[i] = tables.byte_rank(static_cast<unsigned char>(tok_[i]),
                                            static_cast<unsigned char>(tok_[i + 1]));
            } else {
                tables.prefetch_rank(tok_[i], tok_[i + 1]);
                wide_ |= std::uint32_t{1} << i;
            }
        }
        return true;
    }

    std::span<const std::uint32_t> tokens() const { return {tok_, m_}; }

private:
    static constexpr std::uint32_t kNoRank = basic::EncodeTables::kNoRank;

    // Joins the pair of the lowest rank, the leftmost of equal ranks, and starts loading the
    // ranks of the pairs the new token forms; false when no rule applies any more.
    bool step(const basic::EncodeTables& tables) {
        std::uint32_t best = kNoRank;
        std::uint32_t at = 0;
        // Strictly lower: the leftmost of equal ranks.
        for (std::uint32_t i = 0; i + 1 < m_; ++i) {
            if (rank_[i] < best) {
                best = rank_[i];
                at = i;
            }
        }
        if (best == kNoRank) return false;
        tok_[at] = 256 + best;
        --m_;
        shift_down(tok_ + at + 1);
        shift_down(rank_ + at + 1);
        if (at + 1 < m_) tables.prefetch_rank(tok_[at], tok_[at + 1]);
        if (at > 0) tables.prefetch_rank(tok_[at - 1], tok_[at]);
        at_ = at;
        return true;
    }

    // The ranks of the pairs that start needed the large table for.
    void finish_start(const basic::EncodeTables& tables) {
        for (std::uint32_t wide = wide_; wide != 0; wide &= wide - 1) {
            const auto i = static_cast<std::uint32_t>(std::countr_zero(wide));
            rank_[i] = tables.rank_filtered(tok_[i], tok_[i + 1]);
        }
    }

    // The ranks the new token of the last step forms, once it made one.
    void update(const basic::EncodeTables& tables) {
        if (at_ + 1 < m_) rank_[at_] = tables.rank_filtered(tok_[at_], tok_[at_ + 1]);
        if (at_ > 0) rank_[at_ - 1] = tables.rank_filtered(tok_[at_ - 1], tok_[at_]);
    }

    // Moves the kLongest words after `to` one place down. A copy of fixed length is a few
    // vector moves in registers; one of the exact length is a call to memmove, which costs
    // more than the shift itself.
    static void shift_down(std::uint32_t* to) {
        std::uint32_t moved[kLongest];
        std::memcpy(moved, to + 1, sizeof moved);
        std::memcpy(to, moved, sizeof moved);
    }

    // Twice the longest piece, so that the shift above may move a fixed length; room for
    // every byte of a piece before its characters are counted.
    std::uint32_t tok_[2 * kLongest];
    static_assert(2 * kLongest >= kLongestBytes);
    std::uint32_t rank_[2 * kLongest];  // rank_[i] joins tok_[i] and tok_[i + 1]
    std::uint32_t m_ = 0;  // tokens left
    std::uint32_t at_ = 0;  // of the last step's new token
    std::uint32_t wide_ = 0;  // bit i: rank_[i] is still to be looked up
};

}  // namespace tessaron::pretok
