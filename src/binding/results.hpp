// Core results as new Python objects.
#pragma once

#include <string_view>

#include "binding/ref.hpp"
#include "tokenizer/basic/encode.hpp"

namespace tessaron::py {

// A list made at its final length.
Ref ids_to_list(const basic::Encoding& ids);

// Text known to be valid UTF-8.
Ref utf8_to_str(std::string_view text);

inline Ref none() { return Ref::borrow(Py_None); }

}  // namespace tessaron::py
