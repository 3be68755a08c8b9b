// Turning the core's failure values into Python exceptions.
#pragma once

#include <string>

#include "binding/ref.hpp"
#include "support/io_status.hpp"

namespace tessaron::py {

// Sets pyo3_runtime.PanicException(message), making the class on first use.
void set_panic(const std::string& message);

// Sets the OSError-family exception for the error's kind, with its text as the only argument.
void set_io_error(const IoError& error);

// Raises the error, if there is one, as ErrorAlreadySet.
inline void raise_if_failed(const IoStatus& status) {
    if (!status.ok()) {
        set_io_error(status.error());
        throw ErrorAlreadySet{};
    }
}

}  // namespace tessaron::py
