#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"
#include "tokenizer/basic/train.hpp"

namespace tessaron::py {

PyObject* method_train(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(kTrainSignature, args, nargs, kwnames);
        {
            Borrow access(borrow_flag_of(self), Access::Exclusive);
            const std::string_view text = to_utf8(bound[0].get(), "text");
            const std::uint64_t vocab_size = to_u64(bound[1].get(), "vocab_size");
            basic::train(state_of(self), text, vocab_size);
        }
        return none().release();
    });
}

}  // namespace tessaron::py
