// Decimal unsigned 64-bit numbers of the model file: an optional single '+', then ASCII
// digits (leading zeros allowed). Errors carry the messages users see.
#pragma once

#include <string_view>

#include "support/io_status.hpp"
#include "support/types.hpp"

namespace tessaron::persist {

IoResult<TokenId> parse_number(std::string_view text);

}  // namespace tessaron::persist
