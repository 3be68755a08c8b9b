// Writes the human-readable listing: one line per vocabulary entry, by ascending id,
// showing the two parts of every merged token.
#pragma once

#include <string>

#include "persist/text_sink.hpp"
#include "support/io_status.hpp"
#include "tokenizer/basic/model.hpp"

namespace tessaron::persist {

void write_vocab_listing(const basic::Model& model, TextSink& out);

// Replaces the file whole or not at all.
IoStatus write_vocab_listing(const basic::Model& model, const std::string& path);

}  // namespace tessaron::persist
