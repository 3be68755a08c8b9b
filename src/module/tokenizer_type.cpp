#include <new>

#include "module/binder.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/tokenizer_object.hpp"

namespace tessaron::py {

namespace {

template <class F>
PyCFunction as_cfunction(F* function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"build_vocab", as_cfunction(method_build_vocab), METH_NOARGS, "build_vocab($self)\n--\n\n"},
    {"save_model", as_cfunction(method_save_model), kFastcall,
     "save_model($self, file_path)\n--\n\n"},
    {"save_vocab", as_cfunction(method_save_vocab), kFastcall,
     "save_vocab($self, vocab_file_path)\n--\n\n"},
    {"train", as_cfunction(method_train), kFastcall, "train($self, text, vocab_size)\n--\n\n"},
    {"encode", as_cfunction(method_encode), kFastcall, "encode($self, text)\n--\n\n"},
    {"decode", as_cfunction(method_decode), kFastcall, "decode($self, ids)\n--\n\n"},
    {"load", as_cfunction(method_load), kFastcall, "load($self, model_file_path)\n--\n\n"},
    {"save", as_cfunction(method_save), kFastcall,
     "save($self, model_file_path, vocab_file_path)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* tokenizer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        BoundArgs bound = bind_tuple(kNewSignature, args, kwargs);
        const std::uint64_t num_threads = bound[0] ? to_u64(bound[0].get(), "num_threads") : 1;
        auto* model = new basic::Model();
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) {
            delete model;
            throw_error_set();
        }
        auto* object = reinterpret_cast<TokenizerObject*>(self);
        object->model = model;
        object->num_threads = num_threads;
        new (&object->borrow_flag) std::atomic<std::uint64_t>(0);
        return self;
    });
}

void tokenizer_dealloc(PyObject* self) {
    auto* object = reinterpret_cast<TokenizerObject*>(self);
    delete object->model;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("BasicTokenizer(num_threads=1)\n--\n\n")},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(tokenizer_dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_new, reinterpret_cast<void*>(tokenizer_new)},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.BasicTokenizer", sizeof(TokenizerObject), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

PyObject* make_tokenizer_type() { return PyType_FromSpec(&spec); }

}  // namespace tessaron::py
