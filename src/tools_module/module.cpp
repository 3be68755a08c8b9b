// The module tessaron_tools: one interpreter per process, one module object, one class object.
#include "binding/module_init.hpp"
#include "binding/process_state.hpp"
#include "tools_module/tokenizer_type.hpp"

namespace tessaron::tools {

namespace {

using py::process_state;
using py::Ref;

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tessaron_tools",
    .m_doc =
        "Tokenizer: the tessaron tokenizer with exact round trips, special tokens,\n"
        "batches on several threads and training that reports progress.",
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
    Ref all = Ref::steal(Py_BuildValue("[s]", "Tokenizer"));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    return PyObject_SetAttrString(module, "Tokenizer", type);
}

}  // namespace

}  // namespace tessaron::tools

PyMODINIT_FUNC PyInit_tessaron_tools(void) {
    return tessaron::py::init_module_once(tessaron::tools::module_def, tessaron::tools::fill);
}
