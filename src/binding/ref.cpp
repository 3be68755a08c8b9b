#include "binding/ref.hpp"

namespace tessaron::py {

void ensure_error_set() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
}

void throw_error_set() {
    ensure_error_set();
    throw ErrorAlreadySet{};
}

}  // namespace tessaron::py
