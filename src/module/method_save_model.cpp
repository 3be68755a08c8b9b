#include <string>

#include "module/convert.hpp"
#include "module/file_method.hpp"
#include "module/methods.hpp"
#include "persist/model_file_writer.hpp"

namespace tessaron::py {

PyObject* method_save_model(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return file_method<Access::Shared>(
        self, kSaveModelSignature, args, nargs, kwnames,
        [](const basic::Model& model, const BoundArgs& bound) {
            const std::string path(to_utf8(bound[0].get(), "file_path"));
            return persist::write_model_file(model, path);
        });
}

}  // namespace tessaron::py
