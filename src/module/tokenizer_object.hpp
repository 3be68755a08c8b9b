// The BasicTokenizer instance layout and its class.
#pragma once

#include <atomic>
#include <cstdint>

#include "module/py_ref.hpp"
#include "tokenizer/basic/state.hpp"

namespace tessaron::py {

struct TokenizerObject {
    PyObject_HEAD
    basic::TokenizerState* state;
    std::atomic<std::uint64_t> borrow_flag;
};

inline basic::TokenizerState& state_of(PyObject* self) {
    return *reinterpret_cast<TokenizerObject*>(self)->state;
}
inline std::atomic<std::uint64_t>& borrow_flag_of(PyObject* self) {
    return reinterpret_cast<TokenizerObject*>(self)->borrow_flag;
}

// Makes the class object; NULL with an exception set on failure.
PyObject* make_tokenizer_type();

}  // namespace tessaron::py
