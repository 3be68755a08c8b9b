#include <string>

#include "module/convert.hpp"
#include "module/file_method.hpp"
#include "module/methods.hpp"
#include "persist/vocab_listing_writer.hpp"

namespace tessaron::py {

PyObject* method_save_vocab(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return file_method<Access::Shared>(
        self, kSaveVocabSignature, args, nargs, kwnames,
        [](const basic::Model& model, const BoundArgs& bound) {
            const std::string path(to_utf8(bound[0].get(), "vocab_file_path"));
            return persist::write_vocab_listing(model, path);
        });
}

}  // namespace tessaron::py
