// The class BasicTokenizer.
#pragma once

#include "binding/ref.hpp"

namespace tessaron::module {

// Makes the class object; NULL with an exception set on failure.
PyObject* make_tokenizer_type();

}  // namespace tessaron::module
