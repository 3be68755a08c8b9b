// Text -> token ids by the model's rules: in each round the rule with the lowest new id that
// applies anywhere replaces all its non-overlapping occurrences, left to right.
#pragma once

#include <string_view>
#include <vector>

#include "tokenizer/basic/state.hpp"

namespace tessaron::basic {

std::vector<TokenId> encode(const TokenizerState& state, std::string_view text);

}  // namespace tessaron::basic
