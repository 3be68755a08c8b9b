// Writes the model file: marker line, pattern, special tokens, merge rules in learning order.
#pragma once

#include <string>

#include "persist/text_sink.hpp"
#include "support/io_status.hpp"
#include "tokenizer/basic/model.hpp"

namespace tessaron::persist {

void write_model(const basic::Model& model, TextSink& out);

// Replaces the file whole or not at all.
IoStatus write_model_file(const basic::Model& model, const std::string& path);

// The bytes write_model_file would put in the file.
std::string model_file_bytes(const basic::Model& model);

}  // namespace tessaron::persist
