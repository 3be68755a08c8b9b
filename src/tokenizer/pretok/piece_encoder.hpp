// Text -> tokens under a split pattern: the text is split, and each piece is encoded on its
// own by the model's rules exactly as the whole-text encoding would encode it alone. Pieces
// the model's table knows (every token, and pieces merged before) cost one look-up; the others
// go through the rule-ordered merge, which takes O(n log n) for a piece of n bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/basic/segment_merger.hpp"
#include "tokenizer/pretok/known_pieces.hpp"
#include "tokenizer/pretok/piece_cache.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::pretok {

// The table of `model`'s pieces, with the encoding of every token's bytes in it.
std::unique_ptr<KnownPieces> known_pieces_of(const basic::Model& model);

// One per thread and call: its merge space and cache are its own; the table is shared. Valid while
// the tables are unchanged.
class PieceEncoder {
public:
    PieceEncoder(const basic::EncodeTables& tables, SplitPattern pattern, KnownPieces& known)
        : tables_(tables),
          pattern_(std::move(pattern)),
          known_(known),
          cache_(known.cache_seed()),
          ordered_(tables),
          rounds_(tables) {}

    // Appends the tokens of `text` (the tables' dense numbering) to `out`.
    void encode(std::string_view text, std::vector<std::uint32_t>& out);

    // Appends the tokens of one piece by the rules alone, without the table.
    void merge(std::string_view piece, std::vector<std::uint32_t>& out);

private:
    void encode_piece(std::string_view piece, std::vector<std::uint32_t>& out);

    const basic::EncodeTables& tables_;
    SplitPattern pattern_;
    KnownPieces& known_;
    PieceCache cache_;
    basic::SegmentMerger<false, true> ordered_;
    basic::SegmentMerger<true, true> rounds_;
};

}  // namespace tessaron::pretok
