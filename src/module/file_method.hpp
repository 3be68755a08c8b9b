// The shape shared by the methods that read or write files: bind, take access, convert the
// paths and run under that access, give it back, then raise the I/O failure or return None.
#pragma once

#include <utility>

#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/raise.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"

namespace tessaron::py {

// `body(model, bound)` returns an IoStatus; shared access hands it a const model.
template <Access kAccess, class Body>
PyObject* file_method(PyObject* self, const MethodSignature& sig, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(sig, args, nargs, kwnames);
        IoStatus status;
        {
            Borrow access(borrow_flag_of(self), kAccess);
            if constexpr (kAccess == Access::Shared) {
                status = body(std::as_const(model_of(self)), bound);
            } else {
                status = body(model_of(self), bound);
            }
        }
        raise_if_failed(status);
        return none().release();
    });
}

}  // namespace tessaron::py
