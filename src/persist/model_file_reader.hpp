// Loads a model file. The file is read into a fresh model that replaces the tokenizer's
// pattern, special tokens, rules and vocabulary only once the whole file has been read:
// a failed load leaves the tokenizer exactly as it was.
#pragma once

#include <string>

#include "tokenizer/basic/state.hpp"
#include "support/io_error.hpp"

namespace tessaron::persist {

IoStatus read_model_file(basic::TokenizerState& state, const std::string& path);

}  // namespace tessaron::persist
