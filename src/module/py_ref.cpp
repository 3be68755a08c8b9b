#include "module/py_ref.hpp"

namespace tessaron::py {

void throw_error_set() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    throw ErrorAlreadySet{};
}

}  // namespace tessaron::py
