// Attribute names made once. The interpreter's type attribute cache keeps a reference to the
// name of every look-up it caches, so a name made afresh for each call stays alive there until
// its slot is reused: memory that grows with the calls, up to the cache's size.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "binding/ref.hpp"

namespace tessaron::py {

class InternedName {
public:
    explicit constexpr InternedName(const char* text) : text_(text) {}

    // Borrowed, held for the life of the process; the lock must be held.
    PyObject* get() {
        if (object_ == nullptr) object_ = PyUnicode_InternFromString(text_);
        if (object_ == nullptr) throw_error_set();
        return object_;
    }

private:
    const char* text_;
    PyObject* object_ = nullptr;
};

}  // namespace tessaron::py
