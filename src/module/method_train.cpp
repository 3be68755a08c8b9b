#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"

namespace tessaron::py {

PyObject* method_train(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(kTrainSignature, args, nargs, kwnames);
        {
            Borrow access(borrow_flag_of(self), Access::Exclusive);
            const std::string_view text = to_utf8(bound[0].get(), "text");
            const std::uint64_t vocab_size = to_u64(bound[1].get(), "vocab_size");
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
            model_of(self).train({bytes, text.size()}, vocab_size, num_threads_of(self));
        }
        return none().release();
    });
}

}  // namespace tessaron::py
