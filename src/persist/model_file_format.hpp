// The marker line that opens every model file.
#pragma once

#include <string_view>

namespace tessaron::persist {

inline constexpr std::string_view kModelFileMarker = "tessaron v1";

}  // namespace tessaron::persist
