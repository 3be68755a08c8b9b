// Module initialisation for an extension that serves one interpreter per process and makes
// its module object once.
#pragma once

#include "binding/ref.hpp"

namespace tessaron::py {

// A new reference to the module, made from `def` and filled by `fill` on the first call;
// later calls from the same interpreter get the same object. NULL with an exception set when
// another interpreter asks or making the module fails; a failed module is not kept.
PyObject* init_module_once(PyModuleDef& def, int (*fill)(PyObject* module));

}  // namespace tessaron::py
