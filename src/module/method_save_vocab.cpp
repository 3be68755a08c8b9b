#include <string>

#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"
#include "persist/vocab_listing_writer.hpp"

namespace tessaron::py {

PyObject* method_save_vocab(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(kSaveVocabSignature, args, nargs, kwnames);
        IoStatus status;
        {
            Borrow access(borrow_flag_of(self), Access::Shared);
            const std::string path(to_utf8(bound[0].get(), "vocab_file_path"));
            status = persist::write_vocab_listing(state_of(self), path);
        }
        raise_if_failed(status);
        return none().release();
    });
}

}  // namespace tessaron::py
