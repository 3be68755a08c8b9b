#include "binding/module_init.hpp"

#include <cstdint>
#include <string>

#include "binding/process_state.hpp"

namespace tessaron::py {

PyObject* init_module_once(PyModuleDef& def, int (*fill)(PyObject* module)) {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        ensure_error_set();
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!process_state.owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        const std::string message = std::string(def.m_name) +
                                    " does not support sub-interpreters: it can only be imported "
                                    "by one interpreter per process";
        PyErr_SetString(PyExc_ImportError, message.c_str());
        return nullptr;
    }
    if (process_state.module != nullptr) {
        Py_INCREF(process_state.module);
        return process_state.module;
    }
    PyObject* module = PyModule_Create2(&def, PYTHON_API_VERSION);
    if (module == nullptr) return nullptr;
    if (fill(module) < 0) {
        Py_DECREF(module);
        ensure_error_set();
        return nullptr;
    }
    process_state.module = module;
    Py_INCREF(module);
    return module;
}

}  // namespace tessaron::py
