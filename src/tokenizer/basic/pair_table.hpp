// Pair key -> record index, open addressing with linear probing. Slots hold only the
// index; the key is read back from the record, which a lookup visits anyway.
#pragma once

#include <cstdint>

#include "support/page_vector.hpp"
#include "support/random_seed.hpp"
#include "support/seeded_hash.hpp"

namespace tessaron::basic {

// KeyOf maps a stored index back to its key.
template <class KeyOf>
class PairTable {
public:
    static constexpr std::uint32_t kMissing = ~std::uint32_t{0};

    explicit PairTable(KeyOf key_of) : key_of_(key_of) { clear(); }

    std::uint32_t find(std::uint64_t key) const {
        for (std::size_t i = slot_of(key);; i = (i + 1) & mask_) {
            const std::uint32_t value = slots_[i];
            if (value == kMissing || key_of_(value) == key) return value;
        }
    }

    std::size_t bytes() const { return slots_.size() * sizeof(std::uint32_t); }

    // The key must be absent.
    void insert(std::uint64_t key, std::uint32_t value) {
        if ((size_ + 1) * 2 > slots_.size()) grow();
        place(key, value);
        ++size_;
    }

    // Gives the pages back too: the table is refilled with the pairs that are left.
    void clear() {
        slots_.release();
        slots_.assign(kInitialSlots, kMissing);
        mask_ = kInitialSlots - 1;
        size_ = 0;
    }

private:
    static constexpr std::size_t kInitialSlots = 1u << 10;

    std::size_t slot_of(std::uint64_t key) const { return mix64(key ^ seed_) & mask_; }

    void place(std::uint64_t key, std::uint32_t value) {
        std::size_t i = slot_of(key);
        while (slots_[i] != kMissing) i = (i + 1) & mask_;
        slots_[i] = value;
    }

    void grow() {
        PageVector<std::uint32_t> old(slots_.size() * 2, kMissing);
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (std::uint32_t value : old) {
            if (value != kMissing) place(key_of_(value), value);
        }
    }

    KeyOf key_of_;
    std::uint64_t seed_ = random_seed();
    PageVector<std::uint32_t> slots_;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

}  // namespace tessaron::basic
