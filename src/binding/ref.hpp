// Ownership of Python references, and the exception that means "a Python error is set".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tessaron::py {

// Thrown after a Python exception has been set; the call guard returns NULL for it.
struct ErrorAlreadySet {};

// After the interpreter reported a failure: sets the SystemError it omitted, if it did.
void ensure_error_set();

// Throws ErrorAlreadySet, after ensure_error_set().
[[noreturn]] void throw_error_set();

// Owns one strong reference.
class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* object) { return Ref(object); }
    static Ref borrow(PyObject* object) {
        Py_XINCREF(object);
        return Ref(object);
    }
    // A new reference returned by the interpreter; NULL means an error is set.
    static Ref checked(PyObject* object) {
        if (object == nullptr) {
            throw_error_set();
        }
        return Ref(object);
    }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace tessaron::py
