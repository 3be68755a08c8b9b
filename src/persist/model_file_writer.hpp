// Writes the model file: marker line, pattern, special tokens, merge rules in learning order.
#pragma once

#include <string>

#include "tokenizer/basic/state.hpp"
#include "support/io_error.hpp"

namespace tessaron::persist {

IoStatus write_model_file(const basic::TokenizerState& state, const std::string& path);

}  // namespace tessaron::persist
