#include <cstdint>
#include <string_view>
#include <vector>

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
        const basic::TokenizerState& state = state_of(self);
        const std::vector<std::uint32_t> tokens = basic::encode_dense(state, text);
        return ids_to_list(tokens, state.encode_tables.token_ids()).release();
    });
}

}  // namespace tessaron::py
