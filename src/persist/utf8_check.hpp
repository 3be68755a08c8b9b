// Strict UTF-8 validation: no overlong forms, no surrogates, nothing above U+10FFFF.
#pragma once

#include <string_view>

namespace tessaron::persist {

bool is_valid_utf8(std::string_view bytes);

}  // namespace tessaron::persist
