#include <optional>
#include <string>

#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"
#include "persist/model_file_writer.hpp"
#include "persist/vocab_listing_writer.hpp"

namespace tessaron::py {

PyObject* method_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(kSaveSignature, args, nargs, kwnames);
        IoStatus status;
        {
            Borrow access(borrow_flag_of(self), Access::Shared);
            // Both paths are converted before anything is written.
            const std::string model_path(to_utf8(bound[0].get(), "model_file_path"));
            const std::optional<std::string_view> vocab_path =
                to_optional_utf8(bound[1].get(), "vocab_file_path");
            const basic::TokenizerState& state = state_of(self);
            status = persist::write_model_file(state, model_path);
            if (!status && vocab_path) {
                status = persist::write_vocab_listing(state, std::string(*vocab_path));
            }
        }
        raise_if_failed(status);
        return none().release();
    });
}

}  // namespace tessaron::py
