#include "module/borrow.hpp"
#include "module/call_guard.hpp"
#include "module/methods.hpp"
#include "module/results.hpp"
#include "module/tokenizer_object.hpp"

namespace tessaron::py {

PyObject* method_build_vocab(PyObject* self, PyObject*) {
    return guarded([&] {
        {
            Borrow access(borrow_flag_of(self), Access::Exclusive);
            model_of(self).build_vocab();
        }
        return none().release();
    });
}

}  // namespace tessaron::py
