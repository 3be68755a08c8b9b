// Module entry: one interpreter per process, one module object, one class object.
#include <atomic>
#include <cstdint>

#include "module/py_ref.hpp"
#include "module/tokenizer_object.hpp"

namespace tessaron::py {

namespace {

std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_object = nullptr;
PyObject* tokenizer_type = nullptr;

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "tessaron", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int initialise(PyObject* module) {
    if (tokenizer_type == nullptr) {
        tokenizer_type = make_tokenizer_type();
        if (tokenizer_type == nullptr) return -1;
    }
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    Ref name = Ref::steal(PyUnicode_FromString("BasicTokenizer"));
    if (!name || PyList_Append(all.get(), name.get()) < 0) return -1;
    return PyObject_SetAttrString(module, "BasicTokenizer", tokenizer_type);
}

PyObject* init_module() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "tessaron does not support sub-interpreters: it can only be imported "
                        "by one interpreter per process");
        return nullptr;
    }
    if (module_object != nullptr) {
        Py_INCREF(module_object);
        return module_object;
    }
    PyObject* module = PyModule_Create2(&module_def, 1013);
    if (module == nullptr) return nullptr;
    if (initialise(module) < 0) {
        Py_DECREF(module);
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        return nullptr;
    }
    module_object = module;
    Py_INCREF(module_object);
    return module;
}

}  // namespace

}  // namespace tessaron::py

PyMODINIT_FUNC PyInit_tessaron(void) { return tessaron::py::init_module(); }
