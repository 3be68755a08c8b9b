// Loads a model file, from a file or from its bytes in memory. The model's pattern, special
// tokens, rules and vocabulary are replaced only once all of it has been read: a failed load
// leaves the model exactly as it was.
#pragma once

#include <string>
#include <string_view>

#include "support/io_status.hpp"
#include "tokenizer/basic/model.hpp"

namespace tessaron::persist {

IoStatus read_model_file(basic::Model& model, const std::string& path);
IoStatus read_model_bytes(basic::Model& model, std::string_view bytes);

}  // namespace tessaron::persist
