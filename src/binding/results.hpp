// Core results as new Python objects.
#pragma once

#include <string_view>

#include "binding/ref.hpp"

namespace tessaron::py {

// Text known to be valid UTF-8.
Ref utf8_to_str(std::string_view text);

inline Ref none() { return Ref::borrow(Py_None); }

}  // namespace tessaron::py
