// A map from byte strings that live elsewhere (and outlive it) to small values, in one flat
// open-addressing array: a look-up reads one slot and the key's bytes, where a node-based
// map chases a bucket, a node and the bytes. Loading large vocabularies is bound by these.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "support/seeded_hash.hpp"

namespace tessaron {

template <class Value>
class StringIndex {
public:
    explicit StringIndex(std::size_t expected = 0) {
        std::size_t size = 16;
        while (size * 3 < expected * 4 + 4) size *= 2;
        slots_.resize(size);
    }

    // False, with the map unchanged, when the key is there already.
    bool insert(std::string_view key, Value value) {
        const std::uint64_t h = hash_(key) | 1;  // 0 marks an empty slot
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.hash == 0) {
                slot = {key.data(), key.size(), h, value};
                if (++used_ * 4 > slots_.size() * 3) grow();
                return true;
            }
            if (holds(slot, h, key)) return false;
        }
    }

    const Value* find(std::string_view key) const {
        const std::uint64_t h = hash_(key) | 1;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.hash == 0) return nullptr;
            if (holds(slot, h, key)) return &slot.value;
        }
    }

    std::size_t size() const { return used_; }

private:
    struct Slot {
        const char* data = nullptr;
        std::size_t length = 0;
        std::uint64_t hash = 0;
        Value value{};
    };

    static bool holds(const Slot& slot, std::uint64_t h, std::string_view key) {
        return slot.hash == h && slot.length == key.size() &&
               (key.empty() || std::memcmp(slot.data, key.data(), key.size()) == 0);
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.hash == 0) continue;
            std::size_t i = slot.hash & mask;
            while (slots_[i].hash != 0) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    SeededHash hash_;
};

}  // namespace tessaron
