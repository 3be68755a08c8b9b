#include "binding/results.hpp"

#include "binding/process_state.hpp"

namespace tessaron::py {

namespace {

PyObject* make_int(TokenId id) {
    if (id < kSharedInts) {
        PyObject*& slot = process_state.shared_ints[id];
        if (slot == nullptr) {
            slot = PyLong_FromUnsignedLongLong(id);
            if (slot == nullptr) return nullptr;
        }
        Py_INCREF(slot);
        return slot;
    }
    return PyLong_FromUnsignedLongLong(id);
}

}  // namespace

Ref ids_to_list(const basic::Encoding& ids) {
    Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(ids.size())));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        PyObject* item = make_int(ids[i]);
        if (item == nullptr) throw_error_set();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

Ref utf8_to_str(std::string_view text) {
    return Ref::checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

}  // namespace tessaron::py
