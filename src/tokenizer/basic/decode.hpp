// Ids -> display text, one vocabulary lookup per id.
#pragma once

#include <span>
#include <string>

#include "tokenizer/basic/model.hpp"
#include "support/io_status.hpp"

namespace tessaron::basic {

// On failure `out` is left unspecified and the error names the first unknown id.
IoStatus decode(const Model& model, std::span<const TokenId> ids, std::string& out);

}  // namespace tessaron::basic
