// Open-addressing counts of byte strings that live elsewhere (pieces of one text): one slot
// per distinct piece, no copies of the bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "support/seeded_hash.hpp"

namespace tessaron::pretok {

class PieceTable {
public:
    explicit PieceTable(std::uint64_t seed) : slots_(kFirstSize), hash_{seed} {}

    void add(std::string_view piece, std::uint64_t count) {
        const std::uint64_t h = hash_(piece) | 1;  // 0 marks an empty slot
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.hash == 0) {
                slot = {piece.data(), piece.size(), h, count};
                if (++used_ * 4 > slots_.size() * 3) grow();
                return;
            }
            if (slot.hash == h && slot.length == piece.size() &&
                std::memcmp(slot.data, piece.data(), piece.size()) == 0) {
                slot.count += count;
                return;
            }
        }
    }

    template <class Visit>
    void for_each(Visit&& visit) const {
        for (const Slot& slot : slots_) {
            if (slot.hash != 0) visit(std::string_view(slot.data, slot.length), slot.count);
        }
    }

    std::size_t size() const { return used_; }

private:
    static constexpr std::size_t kFirstSize = 1024;

    struct Slot {
        const char* data;
        std::size_t length;
        std::uint64_t hash;
        std::uint64_t count;
    };

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

}  // namespace tessaron::pretok
