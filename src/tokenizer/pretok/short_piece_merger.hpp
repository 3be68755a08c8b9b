// The rule-ordered merge of a piece of a few bytes (most pieces a text splits into): a scan
// of all its pairs for the lowest rank each step costs less than setting up the segment
// merger's tree, and at most kLongest bytes keep the scans' total small.
#pragma once

#include <cstdint>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"

namespace tessaron::pretok {

class ShortPieceMerger {
public:
    static constexpr std::uint32_t kLongest = 32;

    // Appends the tokens of bytes[0..n) to `out`, for ordered tables; 2 <= n <= kLongest.
    static void encode(const basic::EncodeTables& tables, const unsigned char* bytes,
                       std::uint32_t n, std::vector<std::uint32_t>& out) {
        std::uint32_t tok[kLongest];
        std::uint32_t rank[kLongest];  // rank[i] joins tok[i] and tok[i + 1]
        for (std::uint32_t i = 0; i < n; ++i) tok[i] = bytes[i];
        for (std::uint32_t i = 0; i + 1 < n; ++i)
            rank[i] = tables.byte_rank(bytes[i], bytes[i + 1]);
        for (std::uint32_t m = n; m > 1; --m) {
            std::uint32_t best = kNoRank;
            std::uint32_t at = 0;
            // Strictly lower: the leftmost of equal ranks.
            for (std::uint32_t i = 0; i + 1 < m; ++i) {
                if (rank[i] < best) {
                    best = rank[i];
                    at = i;
                }
            }
            if (best == kNoRank) {
                out.insert(out.end(), tok, tok + m);
                return;
            }
            tok[at] = 256 + best;
            for (std::uint32_t i = at + 1; i + 1 < m; ++i) {
                tok[i] = tok[i + 1];
                rank[i] = rank[i + 1];
            }
            if (at + 2 < m) rank[at] = tables.rank_filtered(tok[at], tok[at + 1]);
            if (at > 0) rank[at - 1] = tables.rank_filtered(tok[at - 1], tok[at]);
        }
        out.push_back(tok[0]);
    }

private:
    static constexpr std::uint32_t kNoRank = basic::EncodeTables::kNoRank;
};

}  // namespace tessaron::pretok
