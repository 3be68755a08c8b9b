#include "tools_module/raise_errors.hpp"

#include <string>

namespace tessaron::tools {

namespace {

py::Ref text_of(const IoError& error) {
    const std::string text = error.text();
    return py::Ref::checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

}  // namespace

void raise_file_error(const IoError& error, PyObject* filename) {
    if (error.os_code != 0) {
        errno = error.os_code;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename);
        throw py::ErrorAlreadySet{};
    }
    py::Ref text = text_of(error);
    if (error.kind == IoKind::InvalidData) {
        PyErr_Format(PyExc_ValueError, "%S: %U", filename, text.get());
    } else {
        // No system code (a write that stored nothing): still an OSError naming the file.
        py::Ref value = py::Ref::checked(
            PyObject_CallFunction(PyExc_OSError, "OOO", Py_None, text.get(), filename));
        PyErr_SetObject(PyExc_OSError, value.get());
    }
    throw py::ErrorAlreadySet{};
}

void raise_model_error(const IoError& error) {
    py::Ref text = text_of(error);
    PyErr_SetObject(PyExc_ValueError, text.get());
    throw py::ErrorAlreadySet{};
}

}  // namespace tessaron::tools
