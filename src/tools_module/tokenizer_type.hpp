// The class tessaron_tools.Tokenizer.
#pragma once

#include "binding/ref.hpp"

namespace tessaron::tools {

// Makes the class object; NULL with an exception set on failure.
PyObject* make_tokenizer_type();

}  // namespace tessaron::tools
