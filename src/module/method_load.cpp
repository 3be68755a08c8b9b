#include <string>

#include "module/convert.hpp"
#include "module/file_method.hpp"
#include "module/methods.hpp"
#include "persist/model_file_reader.hpp"

namespace tessaron::py {

PyObject* method_load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return file_method<Access::Exclusive>(
        self, kLoadSignature, args, nargs, kwnames,
        [](basic::Model& model, const BoundArgs& bound) {
            const std::string path(to_utf8(bound[0].get(), "model_file_path"));
            return persist::read_model_file(model, path);
        });
}

}  // namespace tessaron::py
