// Text -> tokens under a split pattern: the text is split, and each piece is encoded on its
// own by the model's rules exactly as the whole-text encoding would encode it alone. Pieces
// seen before come from a cache; the others go through the rule-ordered merge, which takes
// O(n log n) for a piece of n bytes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"
#include "tokenizer/basic/segment_merger.hpp"
#include "tokenizer/pretok/piece_cache.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::pretok {

// One per thread: the cache is its own. Valid while the tables are unchanged.
class PieceEncoder {
public:
    PieceEncoder(const basic::EncodeTables& tables, SplitPattern pattern)
        : tables_(tables), pattern_(pattern), ordered_(tables), rounds_(tables) {}

    // Appends the tokens of `text` (the tables' dense numbering) to `out`.
    void encode(std::string_view text, std::vector<std::uint32_t>& out);

private:
    void encode_piece(std::string_view piece, std::vector<std::uint32_t>& out);

    const basic::EncodeTables& tables_;
    SplitPattern pattern_;
    PieceCache cache_;
    basic::SegmentMerger<false> ordered_;
    basic::SegmentMerger<true> rounds_;
};

}  // namespace tessaron::pretok
