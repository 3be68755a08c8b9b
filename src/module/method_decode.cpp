#include <string>

#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"
#include "tokenizer/basic/decode.hpp"

namespace tessaron::py {

PyObject* method_decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(kDecodeSignature, args, nargs, kwnames);
        std::string text;
        IoStatus status;
        {
            Borrow access(borrow_flag_of(self), Access::Shared);
            std::vector<TokenId> ids = to_ids(bound[0].get(), "ids");
            status = basic::decode(model_of(self), ids, text);
        }
        raise_if_failed(status);
        return utf8_to_str(text).release();
    });
}

}  // namespace tessaron::py
