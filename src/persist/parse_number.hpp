// Decimal unsigned 64-bit numbers of the model file: an optional single '+', then ASCII
// digits (leading zeros allowed). Errors carry the messages users see.
#pragma once

#include <string_view>

#include "support/io_error.hpp"
#include "support/types.hpp"

namespace tessaron::persist {

IoStatus parse_number(std::string_view text, TokenId& value);

}  // namespace tessaron::persist
