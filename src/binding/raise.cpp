#include "binding/raise.hpp"

#include "binding/process_state.hpp"

namespace tessaron::py {

namespace {

constexpr const char kPanicDoc[] =
    "Raised when the native code of an extension fails in a way it did not expect.\n\n"
    "Like SystemExit, this exception derives from BaseException, so that it usually\n"
    "propagates all the way up the stack and ends the Python interpreter.";

PyObject* panic_type() {
    PyObject*& type = process_state.panic_type;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                         PyExc_BaseException, nullptr);
    }
    return type;
}

PyObject* exception_for(IoKind kind) {
    switch (kind) {
    case IoKind::NotFound: return PyExc_FileNotFoundError;
    case IoKind::PermissionDenied: return PyExc_PermissionError;
    case IoKind::ConnectionRefused: return PyExc_ConnectionRefusedError;
    case IoKind::ConnectionReset: return PyExc_ConnectionResetError;
    case IoKind::ConnectionAborted: return PyExc_ConnectionAbortedError;
    case IoKind::BrokenPipe: return PyExc_BrokenPipeError;
    case IoKind::AlreadyExists: return PyExc_FileExistsError;
    case IoKind::WouldBlock: return PyExc_BlockingIOError;
    case IoKind::NotADirectory: return PyExc_NotADirectoryError;
    case IoKind::IsADirectory: return PyExc_IsADirectoryError;
    case IoKind::TimedOut: return PyExc_TimeoutError;
    case IoKind::Interrupted: return PyExc_InterruptedError;
    case IoKind::OutOfMemory: return PyExc_MemoryError;
    default: return PyExc_OSError;
    }
}

void set_with_text(PyObject* type, const std::string& text) {
    Ref value = Ref::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (value) {
        PyErr_SetObject(type, value.get());
    }
}

}  // namespace

void set_panic(const std::string& message) {
    PyObject* type = panic_type();
    if (type != nullptr) {
        set_with_text(type, message.empty() ? std::string("native code failed") : message);
    }
}

void set_io_error(const IoError& error) { set_with_text(exception_for(error.kind), error.text()); }

}  // namespace tessaron::py
