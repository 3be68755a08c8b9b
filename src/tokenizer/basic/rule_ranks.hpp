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
        const std::uint64_t key = (std::uint64_t{left} << 32) | right;
        // Empty slots hold kNoRank, so the usual first probe ends without a branch on its key.
        for (std::uint64_t i = slot_of(key);; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            const std::uint32_t found = slot.key == key ? slot.rank : kNoRank;
            if (slot.key == key || slot.key == kEmptyKey) return found;
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

    // A dense table for byte pairs, open addressing for pairs with a part above 255.
    std::vector<std::uint32_t> byte_rank_ = std::vector<std::uint32_t>(65536, kNoRank);
    std::vector<Slot> slots_;
    std::uint64_t mask_ = 0;
    unsigned shift_ = 63;
};

}  // namespace tessaron::basic
