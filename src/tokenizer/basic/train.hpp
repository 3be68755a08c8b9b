// Training: learns merge rules from one text into an emptied model.
#pragma once

#include <cstdint>
#include <string_view>

#include "tokenizer/basic/state.hpp"

namespace tessaron::basic {

// Empties merges and special tokens (the pattern stays), resets vocab to the 256 bytes,
// then learns up to vocab_size - 256 rules. Fails before changing anything when vocab_size
// is below 256 or the text is longer than the trainer takes.
void train(TokenizerState& state, std::string_view text, std::uint64_t vocab_size);

}  // namespace tessaron::basic
