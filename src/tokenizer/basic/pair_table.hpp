// Pair key -> record index, open addressing with linear probing. Slots hold only the
// index; the key is read back from the record, which a lookup visits anyway. Most look-ups in
// training are of pairs without a record, and each slot such a look-up passes costs a read of
// a record at a random place, so a filter of two bits per key, an eighth of the slots' size
// and mostly in cache, turns away nearly all of them before the slots are read.
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

    std::uint32_t find(std::uint64_t key) const { return find_hashed(key, hash_of(key)); }

    // find in three parts, so that a batch of look-ups waits on memory once rather than once
    // or twice each: the hash, with the slot it reads first prefetched unless the filter turns
    // the key away; the value in that slot (kMissing when turned away), for the caller to
    // prefetch what it names; and find itself with the hash already taken.
    std::uint64_t hash_ahead(std::uint64_t key) const {
        const std::uint64_t hash = hash_of(key);
        if (filter_may_hold(hash)) __builtin_prefetch(slots_.data() + (hash & mask_));
        return hash;
    }
    std::uint32_t first_value(std::uint64_t hash) const {
        return filter_may_hold(hash) ? slots_[hash & mask_] : kMissing;
    }
    std::uint32_t find_hashed(std::uint64_t key, std::uint64_t hash) const {
        if (!filter_may_hold(hash)) return kMissing;
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const std::uint32_t value = slots_[i];
            if (value == kMissing || key_of_(value) == key) return value;
        }
    }

    std::size_t bytes() const {
        return slots_.size() * sizeof(std::uint32_t) + filter_.size() * sizeof(std::uint64_t);
    }

    // The key must be absent.
    void insert(std::uint64_t key, std::uint32_t value) {
        if ((size_ + 1) * 2 > slots_.size()) grow();
        place(hash_of(key), value);
        ++size_;
    }

    // Gives the pages back too: the table is refilled with the pairs that are left.
    void clear() {
        slots_.release();
        slots_.assign(kInitialSlots, kMissing);
        filter_.release();
        filter_.assign(kInitialSlots / kSlotsPerWord, 0);
        mask_ = kInitialSlots - 1;
        size_ = 0;
    }

private:
    static constexpr std::size_t kInitialSlots = 1u << 10;
    static constexpr std::size_t kSlotsPerWord = 16;

    std::uint64_t hash_of(std::uint64_t key) const { return mix64(key ^ seed_); }

    // The slot comes from the hash's low bits, the filter's word and bits from its high ones.
    std::uint64_t filter_bits(std::uint64_t hash) const {
        return (std::uint64_t{1} << (hash >> 58)) | (std::uint64_t{1} << ((hash >> 52) & 63));
    }
    std::size_t filter_word(std::uint64_t hash) const {
        return (hash >> 26) & (filter_.size() - 1);
    }
    bool filter_may_hold(std::uint64_t hash) const {
        const std::uint64_t bits = filter_bits(hash);
        return (filter_[filter_word(hash)] & bits) == bits;
    }

    void place(std::uint64_t hash, std::uint32_t value) {
        filter_[filter_word(hash)] |= filter_bits(hash);
        std::size_t i = hash & mask_;
        while (slots_[i] != kMissing) i = (i + 1) & mask_;
        slots_[i] = value;
    }

    void grow() {
        PageVector<std::uint32_t> old(slots_.size() * 2, kMissing);
        old.swap(slots_);
        filter_.assign(slots_.size() / kSlotsPerWord, 0);
        mask_ = slots_.size() - 1;
        for (std::uint32_t value : old) {
            if (value != kMissing) place(hash_of(key_of_(value)), value);
        }
    }

    KeyOf key_of_;
    std::uint64_t seed_ = random_seed();
    PageVector<std::uint32_t> slots_;
    PageVector<std::uint64_t> filter_;  // a power of two of words
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

}  // namespace tessaron::basic
