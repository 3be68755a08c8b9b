// The BasicTokenizer instance layout and its class.
#pragma once

#include <atomic>
#include <cstdint>

#include "module/py_ref.hpp"
#include "tokenizer/basic/model.hpp"

namespace tessaron::py {

struct TokenizerObject {
    PyObject_HEAD
    basic::Model* model;
    std::uint64_t num_threads;  // how training counts; not part of the model
    std::atomic<std::uint64_t> borrow_flag;
};

inline basic::Model& model_of(PyObject* self) {
    return *reinterpret_cast<TokenizerObject*>(self)->model;
}
inline std::uint64_t num_threads_of(PyObject* self) {
    return reinterpret_cast<TokenizerObject*>(self)->num_threads;
}
inline std::atomic<std::uint64_t>& borrow_flag_of(PyObject* self) {
    return reinterpret_cast<TokenizerObject*>(self)->borrow_flag;
}

// Makes the class object; NULL with an exception set on failure.
PyObject* make_tokenizer_type();

}  // namespace tessaron::py
