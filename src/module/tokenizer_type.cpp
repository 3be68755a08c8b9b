// The class BasicTokenizer: its instance, the constructor, the eight methods beside the table
// that lists them, and the type made from them. Every method runs in one order: bind, take
// access, convert, run, give the access back, then return the result or raise.
#include "module/tokenizer_type.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binder.hpp"
#include "binding/borrow.hpp"
#include "binding/convert.hpp"
#include "binding/guarded.hpp"
#include "binding/id_ints.hpp"
#include "binding/raise.hpp"
#include "binding/results.hpp"
#include "binding/signature.hpp"
#include "persist/model_file_reader.hpp"
#include "persist/model_file_writer.hpp"
#include "persist/vocab_listing_writer.hpp"
#include "tokenizer/basic/decode.hpp"
#include "tokenizer/basic/encode.hpp"
#include "tokenizer/basic/model.hpp"

namespace tessaron::module {

namespace {

using py::Access;
using py::Borrow;
using py::BoundArgs;
using py::guarded;
using py::MethodSignature;

struct TokenizerObject {
    PyObject_HEAD
    basic::Model* model;
    py::IdInts* ints;           // of the model's tokens; clear while the model changes
    std::uint64_t num_threads;  // how training counts; not part of the model or its file
    std::atomic<std::uint64_t> borrow_flag;
};

TokenizerObject& object_of(PyObject* self) { return *reinterpret_cast<TokenizerObject*>(self); }

constexpr const char* kClass = "BasicTokenizer";

// The shape of the methods that read or write files: `body(model, bound)` returns an IoStatus;
// shared access hands it a const model.
template <Access kAccess, class Body>
PyObject* file_method(PyObject* self, const MethodSignature& sig, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
    return guarded([&] {
        BoundArgs bound = py::bind_fastcall(sig, args, nargs, kwnames);
        IoStatus status;
        {
            TokenizerObject& object = object_of(self);
            Borrow access(object.borrow_flag, kAccess);
            if constexpr (kAccess == Access::Shared) {
                status = body(std::as_const(*object.model), bound);
            } else {
                object.ints->clear();
                status = body(*object.model, bound);
                if (status.ok()) object.ints->rebuild(*object.model);
            }
        }
        py::raise_if_failed(status);
        return py::none().release();
    });
}

constexpr MethodSignature kBuildVocab{kClass, "build_vocab", {}};

PyObject* build_vocab(PyObject* self, PyObject*) {
    return guarded([&] {
        {
            TokenizerObject& object = object_of(self);
            Borrow access(object.borrow_flag, Access::Exclusive);
            object.ints->clear();
            object.model->build_vocab();
            object.ints->rebuild(*object.model);
        }
        return py::none().release();
    });
}

constexpr MethodSignature kSaveModel{kClass, "save_model", {{"file_path"}}};

PyObject* save_model(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return file_method<Access::Shared>(
        self, kSaveModel, args, nargs, kwnames,
        [](const basic::Model& model, const BoundArgs& bound) {
            const std::string path(py::to_utf8(bound[0].get(), "file_path"));
            return persist::write_model_file(model, path);
        });
}

constexpr MethodSignature kSaveVocab{kClass, "save_vocab", {{"vocab_file_path"}}};

PyObject* save_vocab(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return file_method<Access::Shared>(
        self, kSaveVocab, args, nargs, kwnames,
        [](const basic::Model& model, const BoundArgs& bound) {
            const std::string path(py::to_utf8(bound[0].get(), "vocab_file_path"));
            return persist::write_vocab_listing(model, path);
        });
}

constexpr MethodSignature kTrain{kClass, "train", {{"text"}, {"vocab_size"}}};

PyObject* train(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = py::bind_fastcall(kTrain, args, nargs, kwnames);
        {
            TokenizerObject& object = object_of(self);
            Borrow access(object.borrow_flag, Access::Exclusive);
            const std::string_view text = py::to_utf8(bound[0].get(), "text");
            const std::uint64_t vocab_size = py::to_u64(bound[1].get(), "vocab_size");
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
            object.ints->clear();
            object.model->train({bytes, text.size()}, vocab_size, object.num_threads);
            object.ints->rebuild(*object.model);
        }
        return py::none().release();
    });
}

constexpr MethodSignature kEncode{kClass, "encode", {{"text"}}};

PyObject* encode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = py::bind_fastcall(kEncode, args, nargs, kwnames);
        TokenizerObject& object = object_of(self);
        Borrow access(object.borrow_flag, Access::Shared);
        const std::string_view text = py::to_utf8(bound[0].get(), "text");
        return object.ints->list_of(*object.model, basic::encode(*object.model, text)).release();
    });
}

constexpr MethodSignature kDecode{kClass, "decode", {{"ids"}}};

PyObject* decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = py::bind_fastcall(kDecode, args, nargs, kwnames);
        std::string text;
        IoStatus status;
        {
            Borrow access(object_of(self).borrow_flag, Access::Shared);
            std::vector<TokenId> ids = py::to_ids(bound[0].get(), "ids");
            status = basic::decode(*object_of(self).model, ids, text);
        }
        py::raise_if_failed(status);
        return py::utf8_to_str(text).release();
    });
}

constexpr MethodSignature kLoad{kClass, "load", {{"model_file_path"}}};

PyObject* load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return file_method<Access::Exclusive>(
        self, kLoad, args, nargs, kwnames, [](basic::Model& model, const BoundArgs& bound) {
            const std::string path(py::to_utf8(bound[0].get(), "model_file_path"));
            return persist::read_model_file(model, path);
        });
}

constexpr MethodSignature kSave{kClass, "save", {{"model_file_path"}, {"vocab_file_path"}}};

PyObject* save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return file_method<Access::Shared>(
        self, kSave, args, nargs, kwnames,
        [](const basic::Model& model, const BoundArgs& bound) -> IoStatus {
            // Both paths are converted before anything is written.
            const std::string model_path(py::to_utf8(bound[0].get(), "model_file_path"));
            const std::optional<std::string_view> vocab_path =
                py::to_optional_utf8(bound[1].get(), "vocab_file_path");
            IoStatus status = persist::write_model_file(model, model_path);
            if (status.ok() && vocab_path) {
                status = persist::write_vocab_listing(model, std::string(*vocab_path));
            }
            return status;
        });
}

template <class F>
PyCFunction as_cfunction(F* function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

template <class F>
PyMethodDef method(const MethodSignature& sig, F* function, int flags) {
    return {.ml_name = sig.name,
            .ml_meth = as_cfunction(function),
            .ml_flags = flags,
            .ml_doc = sig.doc()};
}

PyMethodDef methods[] = {
    method(kBuildVocab, build_vocab, METH_NOARGS),
    method(kSaveModel, save_model, kFastcall),
    method(kSaveVocab, save_vocab, kFastcall),
    method(kTrain, train, kFastcall),
    method(kEncode, encode, kFastcall),
    method(kDecode, decode, kFastcall),
    method(kLoad, load, kFastcall),
    method(kSave, save, kFastcall),
    {},
};

constexpr MethodSignature kNew{kClass, "__new__", {{"num_threads", "1"}}};

PyObject* tokenizer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        BoundArgs bound = py::bind_tuple(kNew, args, kwargs);
        const std::uint64_t num_threads = bound[0] ? py::to_u64(bound[0].get(), "num_threads") : 1;
        auto model = std::make_unique<basic::Model>();
        auto ints = std::make_unique<py::IdInts>();
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) py::throw_error_set();
        TokenizerObject& object = object_of(self);
        object.model = model.release();
        object.ints = ints.release();
        object.num_threads = num_threads;
        new (&object.borrow_flag) std::atomic<std::uint64_t>(0);
        return self;
    });
}

void tokenizer_dealloc(PyObject* self) {
    delete object_of(self).ints;
    delete object_of(self).model;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kNew.doc())},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(tokenizer_dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_new, reinterpret_cast<void*>(tokenizer_new)},
    {0, nullptr},
};

PyType_Spec spec = {
    .name = "builtins.BasicTokenizer",
    .basicsize = sizeof(TokenizerObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = slots,
};

}  // namespace

PyObject* make_tokenizer_type() { return PyType_FromSpec(&spec); }

}  // namespace tessaron::module
