// Insertion-ordered map: an entry list plus an open-addressed index of positions.
// Re-inserting a key replaces its value and keeps its place; nothing is removed one by one.
// The index holds no nodes of its own (a model's rules are inserted by the ten thousand on
// every load), and its hash is seeded so that crafted keys cannot pile into one probe chain.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "support/seeded_hash.hpp"

namespace tessaron {

template <class Key, class Value>
class OrderedMap {
public:
    using Entry = std::pair<Key, Value>;

    // Returns true when the key was new.
    bool insert(const Key& key, const Value& value) {
        if (2 * (entries_.size() + 1) > slots_.size()) rehash(2 * (entries_.size() + 1));
        const std::uint64_t h = hash_(key);
        const std::size_t at = find_slot(key, h);
        if (slots_[at] != 0) {
            entries_[(slots_[at] & kPositionMask) - 1].second = value;
            return false;
        }
        entries_.emplace_back(key, value);
        slots_[at] = tag_of(h) | entries_.size();
        return true;
    }

    const Value* find(const Key& key) const {
        if (slots_.empty()) return nullptr;
        const std::uint64_t slot = slots_[find_slot(key, hash_(key))];
        return slot == 0 ? nullptr : &entries_[(slot & kPositionMask) - 1].second;
    }

    void clear() {
        entries_.clear();
        slots_.clear();
    }
    void reserve(std::size_t n) {
        entries_.reserve(n);
        if (2 * n > slots_.size()) rehash(2 * n);
    }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }
    const std::vector<Entry>& entries() const { return entries_; }

private:
    // A slot holds its entry's position plus one (0 when empty) in the low bits and bits of
    // the key's hash above, which settle most mismatches without reading the entry.
    static constexpr unsigned kPositionBits = 40;
    static constexpr std::uint64_t kPositionMask = (std::uint64_t{1} << kPositionBits) - 1;

    static std::uint64_t tag_of(std::uint64_t h) { return h & ~kPositionMask; }

    std::size_t find_slot(const Key& key, std::uint64_t h) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = (h >> 7) & mask;; i = (i + 1) & mask) {
            const std::uint64_t slot = slots_[i];
            if (slot == 0) return i;
            if ((slot & ~kPositionMask) == tag_of(h) &&
                entries_[(slot & kPositionMask) - 1].first == key) {
                return i;
            }
        }
    }

    // Room for `most` slots, rounded up to a power of two; the entries are placed again.
    void rehash(std::size_t most) {
        std::vector<std::uint64_t> slots(std::bit_ceil(std::max<std::size_t>(16, most)), 0);
        const std::size_t mask = slots.size() - 1;
        for (std::size_t e = 0; e < entries_.size(); ++e) {
            const std::uint64_t h = hash_(entries_[e].first);
            std::size_t i = (h >> 7) & mask;
            while (slots[i] != 0) i = (i + 1) & mask;
            slots[i] = tag_of(h) | (e + 1);
        }
        slots_.swap(slots);
    }

    std::vector<Entry> entries_;
    std::vector<std::uint64_t> slots_;
    SeededHash hash_;
};

}  // namespace tessaron
