#include "tokenizer/basic/rule_ranks.hpp"

#include <algorithm>
#include <bit>

namespace tessaron::basic {

void RuleRanks::build(const std::vector<std::uint32_t>& left,
                      const std::vector<std::uint32_t>& right) {
    std::fill(byte_rank_.begin(), byte_rank_.end(), kNoRank);
    std::size_t wide = 0;
    for (std::size_t r = 0; r < left.size(); ++r) {
        if ((left[r] | right[r]) >= 256) ++wide;
    }
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(16, 2 * wide));
    mask_ = capacity - 1;
    shift_ = static_cast<unsigned>(64 - std::countr_zero(capacity));
    slots_.assign(capacity, Slot{kEmptyKey, kNoRank});
    filter_blocks_ = std::max<std::size_t>(1, wide * 12 / 512);
    filter_.assign(filter_blocks_ * 8, 0);
    for (std::uint32_t r = 0; r < left.size(); ++r) {
        if ((left[r] | right[r]) < 256) {
            byte_rank_[(left[r] << 8) | right[r]] = r;
            continue;
        }
        const std::uint64_t key = (std::uint64_t{left[r]} << 32) | right[r];
        filter_bits(key, [&](std::size_t word, std::uint64_t bit) { filter_[word] |= bit; });
        std::uint64_t i = slot_of(key);
        while (slots_[i].key != kEmptyKey) i = (i + 1) & mask_;
        slots_[i] = Slot{key, r};
    }
}

}  // namespace tessaron::basic
