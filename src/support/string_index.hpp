// A map from byte strings that live elsewhere (and outlive it) to small values, in one flat
// open-addressing array: a look-up reads one slot and the key's bytes, where a node-based
// map chases a bucket, a node and the bytes. Loading large vocabularies is bound by these.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "support/random_seed.hpp"
#include "support/seeded_hash.hpp"

namespace tessaron {

template <class Value>
class StringIndex {
public:
    // Maps that are merged into one another may share a seed, so that their keys land alike.
    explicit StringIndex(std::size_t expected = 0, std::uint64_t seed = random_seed())
        : hash_{seed} {
        std::size_t size = 16;
        while (size * 3 < expected * 4 + 4) size *= 2;
        slots_.resize(size);
    }

    // False, with the map unchanged, when the key is there already.
    bool insert(std::string_view key, Value value) {
        const std::uint64_t h = hash_(key) | 1;  // 0 marks an empty slot
        for (std::size_t i = h & mask();; i = (i + 1) & mask()) {
            Slot& slot = slots_[i];
            if (slot.hash == 0) {
                slot = {key.data(), key.size(), h, value};
                if (++used_ * 4 > slots_.size() * 3) grow();
                return true;
            }
            if (holds(slot, h, key)) return false;
        }
    }

    // The key's value, made Value{} if the key is new.
    Value& operator[](std::string_view key) {
        const std::uint64_t h = hash_(key) | 1;
        for (std::size_t i = h & mask();; i = (i + 1) & mask()) {
            Slot& slot = slots_[i];
            if (holds(slot, h, key)) return slot.value;
            if (slot.hash != 0) continue;
            // Grown first, so that the reference returned stays good.
            if ((used_ + 1) * 4 > slots_.size() * 3) {
                grow();
                return (*this)[key];
            }
            ++used_;
            slot = {key.data(), key.size(), h, Value{}};
            return slot.value;
        }
    }

    const Value* find(std::string_view key) const {
        const std::uint64_t h = hash_(key) | 1;
        for (std::size_t i = h & mask();; i = (i + 1) & mask()) {
            const Slot& slot = slots_[i];
            if (slot.hash == 0) return nullptr;
            if (holds(slot, h, key)) return &slot.value;
        }
    }

    std::size_t size() const { return used_; }

    template <class Visit>
    void for_each(Visit&& visit) const {
        for (const Slot& slot : slots_) {
            if (slot.hash != 0) visit(std::string_view(slot.data, slot.length), slot.value);
        }
    }

private:
    struct Slot {
        const char* data = nullptr;
        std::size_t length = 0;
        std::uint64_t hash = 0;
        Value value{};
    };

    std::size_t mask() const { return slots_.size() - 1; }

    static bool holds(const Slot& slot, std::uint64_t h, std::string_view key) {
        return slot.hash == h && slot.length == key.size() &&
               (key.empty() || std::memcmp(slot.data, key.data(), key.size()) == 0);
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.hash == 0) continue;
            std::size_t i = slot.hash & mask();
            while (slots_[i].hash != 0) i = (i + 1) & mask();
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    SeededHash hash_;
};

}  // namespace tessaron
