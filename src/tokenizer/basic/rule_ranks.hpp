// The rank of the rule that joins two tokens, in the encoder's dense numbering.
#pragma once

#include <cstdint>
#include <vector>

namespace tessaron::basic {

class RuleRanks {
public:
    static constexpr std::uint32_t kNoRank = 0xFFFFFFFF;

    // `left` and `right` are the parts of the rule of each rank; no pair is named twice.
    void build(const std::vector<std::uint32_t>& left, const std::vector<std::uint32_t>& right);

    std::uint32_t byte_rank(unsigned char left, unsigned char right) const {
        return byte_rank_[(unsigned{left} << 8) | right];
    }

    // kNoRank when no rule joins the two tokens.
    std::uint32_t rank(std::uint32_t left, std::uint32_t right) const {
        if ((left | right) < 256) return byte_rank_[(left << 8) | right];
        return wide_rank((std::uint64_t{left} << 32) | right);
    }

    // The same, with most pairs that no rule joins answered by a filter small enough to stay
    // in the processor's cache, where the table does not: for merges of text never seen, where
    // many of the pairs looked up have no rule; a pair that has one costs the filter's look-up
    // more.
    std::uint32_t rank_filtered(std::uint32_t left, std::uint32_t right) const {
        if ((left | right) < 256) return byte_rank_[(left << 8) | right];
        const std::uint64_t key = (std::uint64_t{left} << 32) | right;
        return may_have_rule(key) ? wide_rank(key) : kNoRank;
    }

    // Starts loading what rank_filtered(left, right) reads, so that the look-ups of several
    // merges can wait for memory at once. Always inlined: a call to it, which only reads,
    // would otherwise be taken for one without effect and dropped.
    [[gnu::always_inline]] void prefetch(std::uint32_t left, std::uint32_t right) const {
        if ((left | right) < 256) return;
        const std::uint64_t key = (std::uint64_t{left} << 32) | right;
        __builtin_prefetch(filter_.data() + filter_block(filter_hash(key)) * 8);
        __builtin_prefetch(slots_.data() + slot_of(key));
    }

    // Calls each(left, right, rank) for every rule, in no particular order.
    template <class Each>
    void for_each_rule(Each each) const {
        for (std::uint32_t pair = 0; pair < byte_rank_.size(); ++pair) {
            if (byte_rank_[pair] != kNoRank) each(pair >> 8, pair & 0xFF, byte_rank_[pair]);
        }
        for (const Slot& slot : slots_) {
            if (slot.key != kEmptyKey) {
                each(static_cast<std::uint32_t>(slot.key >> 32),
                     static_cast<std::uint32_t>(slot.key), slot.rank);
            }
        }
    }

private:
    static constexpr std::uint64_t kEmptyKey = ~std::uint64_t{0};

    struct Slot {
        std::uint64_t key;
        std::uint32_t rank;
    };

    std::uint64_t slot_of(std::uint64_t key) const {
        return ((key * 0x9E3779B97F4A7C15ULL) >> shift_) & mask_;
    }

    std::uint32_t wide_rank(std::uint64_t key) const {
        // Empty slots hold kNoRank, so the usual first probe ends without a branch on its key.
        for (std::uint64_t i = slot_of(key);; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            const std::uint32_t found = slot.key == key ? slot.rank : kNoRank;
            if (slot.key == key || slot.key == kEmptyKey) return found;
        }
    }

    // A blocked Bloom filter of the wide pairs: three bits in one cache line of 512, about
    // twelve bits per pair, so one or two pairs in a hundred without a rule get past it.
    static std::uint64_t filter_hash(std::uint64_t key) {
        key ^= key >> 29;
        key *= 0xBF58476D1CE4E5B9ULL;
        return key ^ (key >> 32);
    }
    std::size_t filter_block(std::uint64_t h) const {
        return static_cast<std::size_t>(((h >> 32) * filter_blocks_) >> 32);
    }
    template <class EachBit>
    void filter_bits(std::uint64_t key, EachBit each_bit) const {
        const std::uint64_t h = filter_hash(key);
        const std::size_t block = filter_block(h);
        for (unsigned k = 0; k < 3; ++k) {
            const unsigned word = static_cast<unsigned>(h >> (9 * k)) & 7;
            const unsigned bit = static_cast<unsigned>(h >> (9 * k + 3)) & 63;
            each_bit(block * 8 + word, std::uint64_t{1} << bit);
        }
    }
    bool may_have_rule(std::uint64_t key) const {
        std::uint64_t missing = 0;
        filter_bits(key,
                    [&](std::size_t word, std::uint64_t bit) { missing |= ~filter_[word] & bit; });
        return missing == 0;
    }

    // A dense table for byte pairs, open addressing for pairs with a part above 255.
    std::vector<std::uint32_t> byte_rank_ = std::vector<std::uint32_t>(65536, kNoRank);
    std::vector<Slot> slots_;
    std::vector<std::uint64_t> filter_;  // of filter_blocks_ blocks of 8 words
    std::uint64_t filter_blocks_ = 0;
    std::uint64_t mask_ = 0;
    unsigned shift_ = 63;
};

}  // namespace tessaron::basic
