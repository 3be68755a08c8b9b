// Loads a model file. The model's pattern, special tokens, rules and vocabulary are replaced
// only once the whole file has been read: a failed load leaves the model exactly as it was.
#pragma once

#include <string>

#include "tokenizer/basic/model.hpp"
#include "support/io_error.hpp"

namespace tessaron::persist {

IoStatus read_model_file(basic::Model& model, const std::string& path);

}  // namespace tessaron::persist
