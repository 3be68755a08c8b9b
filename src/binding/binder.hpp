// Binds call arguments to parameter slots, with the TypeError messages of a Python function.
#pragma once

#include <array>

#include "binding/ref.hpp"
#include "binding/signature.hpp"

namespace tessaron::py {

// Slot i holds the argument bound to parameter i, or nothing when it was not given.
using BoundArgs = std::array<Ref, kMaxParams>;

// Vectorcall convention: positional arguments, then keyword values named by `kwnames`.
// Throws ErrorAlreadySet with the binding TypeError set.
BoundArgs bind_fastcall(const MethodSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);

// tp_new convention: an argument tuple and an optional keyword dictionary.
BoundArgs bind_tuple(const MethodSignature& sig, PyObject* args, PyObject* kwargs);

}  // namespace tessaron::py
