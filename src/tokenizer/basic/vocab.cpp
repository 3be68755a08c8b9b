#include "tokenizer/basic/vocab.hpp"

#include <algorithm>

namespace tessaron::basic {

void Vocab::reset_to_bytes() {
    map_.clear();
    map_.reserve(256);
    for (TokenId b = 0; b < 256; ++b) {
        map_.emplace(b, std::string(1, static_cast<char>(b)));
    }
}

std::vector<TokenId> Vocab::sorted_ids() const {
    std::vector<TokenId> ids;
    ids.reserve(map_.size());
    for (const auto& entry : map_) {
        ids.push_back(entry.first);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace tessaron::basic
