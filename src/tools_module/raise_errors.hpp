// The second face's exceptions for the core's failure values.
#pragma once

#include "binding/ref.hpp"
#include "support/io_error.hpp"

namespace tessaron::tools {

// A failure of the file `filename`: an operating-system error becomes the OSError subclass
// for its errno, with errno, strerror and filename set; a model file that does not parse
// becomes ValueError "<filename>: <reason>". Throws ErrorAlreadySet.
[[noreturn]] void raise_file_error(const IoError& error, PyObject* filename);

// A model file given as bytes that does not parse: ValueError. Throws ErrorAlreadySet.
[[noreturn]] void raise_model_error(const IoError& error);

}  // namespace tessaron::tools
