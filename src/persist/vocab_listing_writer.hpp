// Writes the human-readable listing: one line per vocabulary entry, by ascending id,
// showing the two parts of every merged token.
#pragma once

#include <string>

#include "tokenizer/basic/model.hpp"
#include "support/io_error.hpp"

namespace tessaron::persist {

IoStatus write_vocab_listing(const basic::Model& model, const std::string& path);

}  // namespace tessaron::persist
