// The ids a model made elsewhere gives its tokens (tiktoken's ranks, Hugging Face's
// vocabulary), beside the ids its rules use inside: the bytes 0..255, then the rules' tokens
// from 256 in rule order, then the special tokens. The inside ids are dense, so the way out is
// an array; the way in is an array too when the model's ids are about as dense, else a hash.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "support/seeded_hash.hpp"
#include "support/types.hpp"

namespace tessaron {

class IdMap {
public:
    // `outer_of_inner[i]` is the model's id for the inside id i; the ids must be distinct.
    explicit IdMap(std::vector<TokenId> outer_of_inner);

    // Every inside id is its own model id: the model's ids are those of a model file.
    bool is_identity() const { return identity_; }
    std::size_t size() const { return outer_.size(); }
    TokenId outer(TokenId inner) const { return outer_[inner]; }
    std::span<const TokenId> outer_ids() const { return outer_; }
    std::optional<TokenId> inner(TokenId outer) const;

private:
    static constexpr std::uint32_t kAbsent = 0xFFFFFFFF;

    std::vector<TokenId> outer_;
    std::vector<std::uint32_t> dense_inner_;
    std::unordered_map<TokenId, std::uint32_t, SeededHash> sparse_inner_;
    bool identity_ = true;
};

}  // namespace tessaron
