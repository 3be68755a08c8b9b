#include "tokenizer/id_map.hpp"

#include <algorithm>
#include <utility>

#include "support/internal_failure.hpp"

namespace tessaron {

IdMap::IdMap(std::vector<TokenId> outer_of_inner) : outer_(std::move(outer_of_inner)) {
    check(outer_.size() < kAbsent, "too many tokens to map");
    TokenId largest = 0;
    for (std::size_t i = 0; i < outer_.size(); ++i) {
        if (outer_[i] != i) identity_ = false;
        largest = std::max(largest, outer_[i]);
    }
    const bool dense = outer_.empty() || largest < 2 * outer_.size() + 1024;
    if (dense) {
        dense_inner_.assign(outer_.empty() ? 0 : largest + 1, kAbsent);
    } else {
        sparse_inner_.reserve(outer_.size());
    }
    for (std::size_t i = 0; i < outer_.size(); ++i) {
        const auto inner = static_cast<std::uint32_t>(i);
        const bool fresh = dense ? std::exchange(dense_inner_[outer_[i]], inner) == kAbsent
                                 : sparse_inner_.emplace(outer_[i], inner).second;
        check(fresh, "two tokens with one id");
    }
}

std::optional<TokenId> IdMap::inner(TokenId outer) const {
    if (!sparse_inner_.empty()) {
        const auto found = sparse_inner_.find(outer);
        if (found == sparse_inner_.end()) return std::nullopt;
        return found->second;
    }
    if (outer >= dense_inner_.size() || dense_inner_[outer] == kAbsent) return std::nullopt;
    return dense_inner_[outer];
}

}  // namespace tessaron
