// Writes a rank table as tiktoken reads it: each token's bytes in base64, a space and its rank.
#pragma once

#include <span>
#include <string>

#include "persist/text_sink.hpp"
#include "support/io_status.hpp"
#include "tokenizer/pretok/rules_from_ranks.hpp"

namespace tessaron::persist {

void write_rank_table(std::span<const pretok::RankedToken> tokens, TextSink& out);

// Replaces the file whole, as every save does.
IoStatus write_rank_file(std::span<const pretok::RankedToken> tokens, const std::string& path);

}  // namespace tessaron::persist
