// Text -> token ids by the model's rules: in each round the rule with the lowest new id that
// applies anywhere replaces all its non-overlapping occurrences, left to right.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tokenizer/basic/state.hpp"

namespace tessaron::basic {

std::vector<TokenId> encode(const TokenizerState& state, std::string_view text);

// The same encoding as the encoder's dense token numbers, which index
// `state.encode_tables.token_ids()`: a caller that converts every id anyway saves a copy.
std::vector<std::uint32_t> encode_dense(const TokenizerState& state, std::string_view text);

}  // namespace tessaron::basic
