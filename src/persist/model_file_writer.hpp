// Writes the model file: marker line, pattern, special tokens, merge rules in learning order.
#pragma once

#include <string>

#include "tokenizer/basic/model.hpp"
#include "support/io_error.hpp"

namespace tessaron::persist {

IoStatus write_model_file(const basic::Model& model, const std::string& path);

}  // namespace tessaron::persist
