#include <string>

#include "module/binder.hpp"
#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/convert.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"
#include "persist/model_file_reader.hpp"

namespace tessaron::py {

PyObject* method_load(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
    return guarded([&] {
        BoundArgs bound = bind_fastcall(kLoadSignature, args, nargs, kwnames);
        IoStatus status;
        {
            Borrow access(borrow_flag_of(self), Access::Exclusive);
            const std::string path(to_utf8(bound[0].get(), "model_file_path"));
            status = persist::read_model_file(state_of(self), path);
        }
        raise_if_failed(status);
        return none().release();
    });
}

}  // namespace tessaron::py
