// Text -> token ids by the model's rules: in each round the rule with the lowest new id that
// applies anywhere replaces all its non-overlapping occurrences, left to right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "tokenizer/basic/model.hpp"

namespace tessaron::basic {

// The ids of one text, held as the encoder's 32-bit token numbers and the model's table from
// those to ids: a caller that converts every id anyway (into Python ints, say) skips a copy.
// Valid while the model it came from is unchanged.
class Encoding {
public:
    Encoding(std::vector<std::uint32_t> tokens, std::span<const TokenId> id_of)
        : tokens_(std::move(tokens)), id_of_(id_of) {}

    std::size_t size() const { return tokens_.size(); }
    TokenId operator[](std::size_t i) const { return id_of_[tokens_[i]]; }
    std::vector<TokenId> ids() const;
    // The token numbers, which index the model's `encode_tables().token_ids()`.
    std::span<const std::uint32_t> tokens() const { return tokens_; }

private:
    std::vector<std::uint32_t> tokens_;
    std::span<const TokenId> id_of_;
};

Encoding encode(const Model& model, std::string_view text);

// Appends the token numbers of `text` to `out`: for callers that gather many texts' tokens.
void encode_into(const Model& model, std::string_view text, std::vector<std::uint32_t>& out);

}  // namespace tessaron::basic
