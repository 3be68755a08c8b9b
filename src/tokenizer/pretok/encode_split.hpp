// A model's encoding of a text under a split pattern: each piece on its own, as the
// whole-text encoding would give it alone.
#pragma once

#include <string_view>

#include "tokenizer/basic/encode.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::pretok {

basic::Encoding encode_split(const basic::Model& model, SplitPattern pattern,
                             std::string_view text);

}  // namespace tessaron::pretok
