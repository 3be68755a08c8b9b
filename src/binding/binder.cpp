#include "binding/binder.hpp"

#include <string>

namespace tessaron::py {

namespace {

std::string qualified(const MethodSignature& sig) {
    return std::string(sig.owner) + "." + sig.name + "()";
}

[[noreturn]] void too_many_positional(const MethodSignature& sig, Py_ssize_t given) {
    std::string message = qualified(sig) + " takes ";
    if (sig.required == sig.positional) {
        message += std::to_string(sig.positional);
    } else {
        message += "from " + std::to_string(sig.required) + " to " + std::to_string(sig.positional);
    }
    message += " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was given" : " were given");
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw ErrorAlreadySet{};
}

[[noreturn]] void keyword_error(const MethodSignature& sig, const char* what, PyObject* name) {
    PyErr_Format(PyExc_TypeError, "%s %s '%U'", qualified(sig).c_str(), what, name);
    throw_error_set();
}

[[noreturn]] void missing(const MethodSignature& sig, const BoundArgs& slots) {
    std::array<const char*, kMaxParams> names{};
    std::size_t m = 0;
    for (std::size_t i = 0; i < sig.required; ++i) {
        if (!slots[i]) names[m++] = sig.params[i].name;
    }
    std::string list;
    for (std::size_t i = 0; i < m; ++i) {
        if (i > 0) list += (m == 2) ? " and " : (i + 1 == m ? ", and " : ", ");
        // Appended piece by piece: GCC 12 at -O3 warns falsely on "'" + std::string(...).
        list.append("'").append(names[i]).append("'");
    }
    std::string message =
        qualified(sig) + " missing " + std::to_string(m) +
        (m == 1 ? " required positional argument: " : " required positional arguments: ") + list;
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw ErrorAlreadySet{};
}

void bind_keyword(const MethodSignature& sig, BoundArgs& slots, PyObject* name, PyObject* value) {
    for (std::size_t i = 0; i < sig.count; ++i) {
        // Compares code points, so a name holding a lone surrogate simply does not match.
        if (PyUnicode_Check(name) &&
            PyUnicode_CompareWithASCIIString(name, sig.params[i].name) == 0) {
            if (slots[i]) keyword_error(sig, "got multiple values for argument", name);
            slots[i] = Ref::borrow(value);
            return;
        }
    }
    keyword_error(sig, "got an unexpected keyword argument", name);
}

void finish(const MethodSignature& sig, const BoundArgs& slots) {
    for (std::size_t i = 0; i < sig.required; ++i) {
        if (!slots[i]) missing(sig, slots);
    }
}

}  // namespace

BoundArgs bind_fastcall(const MethodSignature& sig, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    if (static_cast<std::size_t>(nargs) > sig.positional) too_many_positional(sig, nargs);
    BoundArgs slots;
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = Ref::borrow(args[i]);
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            bind_keyword(sig, slots, PyTuple_GET_ITEM(kwnames, k), args[nargs + k]);
        }
    }
    finish(sig, slots);
    return slots;
}

BoundArgs bind_tuple(const MethodSignature& sig, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (static_cast<std::size_t>(nargs) > sig.positional) too_many_positional(sig, nargs);
    BoundArgs slots;
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = Ref::borrow(PyTuple_GET_ITEM(args, i));
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject* name;
        PyObject* value;
        while (PyDict_Next(kwargs, &pos, &name, &value)) {
            bind_keyword(sig, slots, name, value);
        }
    }
    finish(sig, slots);
    return slots;
}

}  // namespace tessaron::py
