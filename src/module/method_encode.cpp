#include <string_view>

#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"
#include "tokenizer/basic/encode.hpp"

namespace tessaron::py {

PyObject* method_encode(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(kEncodeSignature, args, nargs, kwnames);
        Borrow access(borrow_flag_of(self), Access::Shared);
        const std::string_view text = to_utf8(bound[0].get(), "text");
        return ids_to_list(basic::encode(model_of(self), text)).release();
    });
}

}  // namespace tessaron::py
