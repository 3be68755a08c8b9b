#include "binding/convert.hpp"

#include <algorithm>
#include <string>

#include "binding/process_state.hpp"

namespace tessaron::py {

namespace {

// An exact TypeError becomes "argument '<param>': <text>" caused by the original.
[[noreturn]] void rewrite_and_throw(const char* param) {
    if (!PyErr_Occurred()) throw_error_set();
    PyObject* type;
    PyObject* value;
    PyObject* traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (type == PyExc_TypeError && value != nullptr) {
        if (traceback != nullptr) PyException_SetTraceback(value, traceback);
        Ref text = Ref::steal(PyObject_Str(value));
        if (!text) {
            PyErr_Clear();
            text = Ref::steal(PyUnicode_FromString("<unprintable>"));
        }
        PyErr_Format(PyExc_TypeError, "argument '%s': %U", param, text.get());
        PyObject* new_type;
        PyObject* new_value;
        PyObject* new_traceback;
        PyErr_Fetch(&new_type, &new_value, &new_traceback);
        PyErr_NormalizeException(&new_type, &new_value, &new_traceback);
        PyException_SetCause(new_value, value);  // steals `value`
        PyErr_Restore(new_type, new_value, new_traceback);
        Py_DECREF(type);
        Py_XDECREF(traceback);
    } else {
        PyErr_Restore(type, value, traceback);
    }
    throw ErrorAlreadySet{};
}

// "'<type qualname>' object cannot be cast as '<target>'".
[[noreturn]] void cast_error(PyObject* object, const char* target, const char* param) {
    Ref name = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        name = Ref::steal(PyUnicode_FromString("<failed to extract type name>"));
    }
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", name.get(), target);
    rewrite_and_throw(param);
}

// __qualname__ of collections.abc.Sequence, looked up once.
const char* sequence_name(const char* param) {
    std::string& name = process_state.sequence_name;
    if (name.empty()) {
        Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
        Ref sequence = abc ? Ref::steal(PyObject_GetAttrString(abc.get(), "Sequence")) : Ref();
        Ref qualname =
            sequence ? Ref::steal(PyObject_GetAttrString(sequence.get(), "__qualname__")) : Ref();
        const char* text = qualname ? PyUnicode_AsUTF8(qualname.get()) : nullptr;
        if (text == nullptr) rewrite_and_throw(param);
        name = text;
    }
    return name.c_str();
}

// Converts an int (or subclass), else its __index__ value; NULL-free error convention.
bool item_to_u64(PyObject* object, std::uint64_t& out) {
    if (PyLong_Check(object)) {
        out = PyLong_AsUnsignedLongLong(object);
    } else {
        Ref index = Ref::steal(PyNumber_Index(object));
        if (!index) return false;
        out = PyLong_AsUnsignedLongLong(index.get());
    }
    return !(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred());
}

}  // namespace

std::string_view to_utf8(PyObject* object, const char* param) {
    if (!PyUnicode_Check(object)) cast_error(object, "str", param);
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) rewrite_and_throw(param);
    return {data, static_cast<std::size_t>(size)};
}

std::optional<std::string_view> to_optional_utf8(PyObject* object, const char* param) {
    if (object == Py_None) return std::nullopt;
    return to_utf8(object, param);
}

std::uint64_t to_u64(PyObject* object, const char* param) {
    std::uint64_t value = 0;
    if (!item_to_u64(object, value)) rewrite_and_throw(param);
    return value;
}

std::vector<TokenId> to_ids(PyObject* object, const char* param) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        rewrite_and_throw(param);
    }
    if (!PySequence_Check(object)) cast_error(object, sequence_name(param), param);

    std::vector<TokenId> ids;
    if (PyBytes_CheckExact(object)) {
        const auto* data = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(object));
        ids.assign(data, data + PyBytes_GET_SIZE(object));
        return ids;
    }
    // A list or tuple is walked by index, re-reading the size each step as its iterator
    // does, so an __index__ that mutates the list sees the same behaviour.
    const bool is_list = PyList_CheckExact(object);
    if (is_list || PyTuple_CheckExact(object)) {
        ids.reserve(static_cast<std::size_t>(Py_SIZE(object)));
        for (Py_ssize_t i = 0; i < Py_SIZE(object); ++i) {
            Ref item =
                Ref::borrow(is_list ? PyList_GET_ITEM(object, i) : PyTuple_GET_ITEM(object, i));
            std::uint64_t value;
            if (!item_to_u64(item.get(), value)) rewrite_and_throw(param);
            ids.push_back(value);
        }
        return ids;
    }

    const Py_ssize_t length = PySequence_Size(object);
    if (length < 0) {
        PyErr_Clear();
    } else {
        // A __len__ may claim anything; growth takes over beyond a sane reservation.
        ids.reserve(std::min<std::size_t>(static_cast<std::size_t>(length), 1u << 24));
    }
    Ref iterator = Ref::steal(PyObject_GetIter(object));
    if (!iterator) rewrite_and_throw(param);
    while (true) {
        Ref item = Ref::steal(PyIter_Next(iterator.get()));
        if (!item) {
            if (PyErr_Occurred()) rewrite_and_throw(param);
            break;
        }
        std::uint64_t value;
        if (!item_to_u64(item.get(), value)) rewrite_and_throw(param);
        ids.push_back(value);
    }
    return ids;
}

}  // namespace tessaron::py
