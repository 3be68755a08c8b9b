// The vocabulary: token id -> the token's bytes.
#pragma once

#include <string>
#include <unordered_map>

#include "support/seeded_hash.hpp"
#include "support/types.hpp"

namespace tessaron::basic {

class Vocab {
public:
    const std::string* find(TokenId id) const {
        auto it = map_.find(id);
        return it == map_.end() ? nullptr : &it->second;
    }
    // Inserts or overwrites; the entry stays where it is until the vocabulary is cleared.
    const std::string& set(TokenId id, std::string bytes) {
        return map_.insert_or_assign(id, std::move(bytes)).first->second;
    }
    void clear() { map_.clear(); }
    void reserve(std::size_t n) { map_.reserve(n); }
    std::size_t size() const { return map_.size(); }
    bool empty() const { return map_.empty(); }
    auto begin() const { return map_.begin(); }
    auto end() const { return map_.end(); }

    // The 256 single-byte tokens and nothing else.
    void reset_to_bytes();

private:
    std::unordered_map<TokenId, std::string, SeededHash> map_;
};

}  // namespace tessaron::basic
