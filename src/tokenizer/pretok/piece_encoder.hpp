// Text -> tokens under a split pattern: the text is split, and each piece is encoded on its
// own by the model's rules exactly as the whole-text encoding would encode it alone. Pieces
// the model's table knows (every token, and pieces merged before) cost one look-up; the others
// go through the rule-ordered merge, which takes O(n log n) for a piece of n bytes.
//
// Pieces the call has not met before are set aside, a few dozen at a time, leaving a gap in
// the output: their look-ups in the model's table and their merges are independent of each
// other but each waits for memory, and started together they wait at once.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/basic/segment_merger.hpp"
#include "tokenizer/pretok/known_pieces.hpp"
#include "tokenizer/pretok/piece_cache.hpp"
#include "tokenizer/pretok/short_piece_merger.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::pretok {

// The table of `model`'s pieces, with the encoding of every token's bytes in it.
std::unique_ptr<KnownPieces> known_pieces_of(const basic::Model& model);

// One per thread and call: its merge space and cache are its own, the cache taken from what
// an earlier call left; the table is shared. Valid while the tables are unchanged.
class PieceEncoder {
public:
    PieceEncoder(const basic::EncodeTables& tables, SplitPattern pattern, KnownPieces& known)
        : tables_(tables),
          pattern_(std::move(pattern)),
          known_(known),
          cache_(known.kept_cache().take()),
          ordered_(tables),
          rounds_(tables) {
        if (cache_ == nullptr) {
            cache_ = std::make_unique<PieceCache>(known.cache_seed(), known.hash_function());
        }
    }
    PieceEncoder(PieceEncoder&&) = default;
    ~PieceEncoder() {
        if (cache_ != nullptr) known_.kept_cache().leave(std::move(cache_));
    }

    // Appends the tokens of `text` (the tables' dense numbering) to `out`.
    void encode(std::string_view text, std::vector<std::uint32_t>& out);

    // Appends the tokens of one piece by the rules alone, without the table.
    void merge(std::string_view piece, std::vector<std::uint32_t>& out);

private:
    // Misses set aside at most; enough to cover the wait for memory, few enough that the
    // output behind the first gap stays in the processor's cache.
    static constexpr std::size_t kMostMisses = 64;
    static constexpr std::uint32_t kNotShort = 0xFFFFFFFF;
    // The misses set aside by their hash's top bits, each as its place in misses_ + 1; 0 is
    // free. Four times as many slots as misses keep probes short.
    static constexpr std::size_t kMissSlots = 4 * kMostMisses;
    static constexpr unsigned kMissSlotShift = 64 - std::countr_zero(kMissSlots);
    static_assert(std::has_single_bit(kMissSlots) && kMostMisses < 255);

    // A piece the call has not met before, once however often it occurs among those set aside.
    struct Miss {
        std::string_view bytes;
        std::uint64_t cache_hash;
        std::uint64_t known_hash;
        std::span<const std::uint32_t> tokens;
        std::uint32_t short_piece;  // in shorts_, or kNotShort
        // Where its tokens lie in merged_ when the model's table does not know it; a length
        // of 0 when it does.
        std::size_t merged_at;
        std::size_t merged_length;
    };
    // Where a miss's tokens go in the output.
    struct Gap {
        std::size_t at;
        std::uint32_t miss;
    };

    void set_aside(std::string_view piece, std::uint64_t cache_hash, std::size_t at);
    // The tokens of the misses set aside, put in their gaps.
    void fill_gaps(std::vector<std::uint32_t>& out);

    const basic::EncodeTables& tables_;
    SplitPattern pattern_;
    KnownPieces& known_;
    std::unique_ptr<PieceCache> cache_;  // one of the kept ones when one is left
    basic::SegmentMerger<false, true> ordered_;
    basic::SegmentMerger<true, true> rounds_;
    std::vector<Miss> misses_;
    std::vector<Gap> gaps_;
    std::array<std::uint8_t, kMissSlots> miss_slots_{};
    std::vector<ShortPieceMerger> shorts_ = std::vector<ShortPieceMerger>(kMostMisses);
    std::vector<std::uint32_t> merged_;
};

}  // namespace tessaron::pretok
