// The module tessaron: one interpreter per process, one module object, one class object.
#include "binding/module_init.hpp"
#include "binding/process_state.hpp"
#include "module/tokenizer_type.hpp"

namespace tessaron::module {

namespace {

using py::process_state;
using py::Ref;

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tessaron",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

int fill(PyObject* module) {
    PyObject*& type = process_state.class_object;
    if (type == nullptr) {
        type = make_tokenizer_type();
        if (type == nullptr) return -1;
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
    return PyObject_SetAttrString(module, "BasicTokenizer", type);
}

}  // namespace

}  // namespace tessaron::module

PyMODINIT_FUNC PyInit_tessaron(void) {
    return tessaron::py::init_module_once(tessaron::module::module_def, tessaron::module::fill);
}
