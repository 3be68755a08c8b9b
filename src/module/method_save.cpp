#include <optional>
#include <string>

#include "module/convert.hpp"
#include "module/file_method.hpp"
#include "module/methods.hpp"
#include "persist/model_file_writer.hpp"
#include "persist/vocab_listing_writer.hpp"

namespace tessaron::py {

PyObject* method_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return file_method<Access::Shared>(
        self, kSaveSignature, args, nargs, kwnames,
        [](const basic::Model& model, const BoundArgs& bound) -> IoStatus {
            // Both paths are converted before anything is written.
            const std::string model_path(to_utf8(bound[0].get(), "model_file_path"));
            const std::optional<std::string_view> vocab_path =
                to_optional_utf8(bound[1].get(), "vocab_file_path");
            IoStatus status = persist::write_model_file(model, model_path);
            if (!status && vocab_path) {
                status = persist::write_vocab_listing(model, std::string(*vocab_path));
            }
            return status;
        });
}

}  // namespace tessaron::py
