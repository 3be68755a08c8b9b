// Fills vocab from the rules and the special tokens; never removes an entry.
#pragma once

#include "tokenizer/basic/state.hpp"

namespace tessaron::basic {

void build_vocab(TokenizerState& state);

}  // namespace tessaron::basic
