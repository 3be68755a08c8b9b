// Insertion-ordered map: an entry list plus a hash index of positions.
// Re-inserting a key replaces its value and keeps its place; nothing is removed one by one.
#pragma once

#include <cstddef>
#include <unordered_map>
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
        auto [it, fresh] = index_.try_emplace(key, entries_.size());
        if (fresh) {
            entries_.emplace_back(key, value);
        } else {
            entries_[it->second].second = value;
        }
        return fresh;
    }

    const Value* find(const Key& key) const {
        auto it = index_.find(key);
        return it == index_.end() ? nullptr : &entries_[it->second].second;
    }

    void clear() {
        entries_.clear();
        index_.clear();
    }
    void reserve(std::size_t n) {
        entries_.reserve(n);
        index_.reserve(n);
    }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }
    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
    std::unordered_map<Key, std::size_t, SeededHash> index_;
};

}  // namespace tessaron
