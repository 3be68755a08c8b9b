#include "binding/id_ints.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

namespace tessaron::py {

void IdInts::clear() {
    for (PyObject* item : ints_) Py_DECREF(item);
    ints_.clear();
}

void IdInts::rebuild(const basic::Model& model) {
    clear();
    const std::span<const TokenId> id_of = model.encode_tables().token_ids();
    std::vector<PyObject*> ints;
    ints.reserve(id_of.size() + model.special_tokens().size());
    auto add = [&](TokenId id) {
        PyObject* item = PyLong_FromUnsignedLongLong(outer_ == nullptr ? id : outer_->outer(id));
        if (item == nullptr) {
            for (PyObject* made : ints) Py_DECREF(made);
            throw_error_set();
        }
        ints.push_back(item);
    };
    for (const TokenId id : id_of) add(id);
    for (const auto& entry : model.special_tokens()) add(entry.second);
    ints_ = std::move(ints);
}

Ref IdInts::list_of(const basic::Model& model, std::span<const std::uint32_t> tokens) {
    if (empty()) rebuild(model);
    Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(tokens.size())));
    PyObject* const* ints = ints_.data();
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        PyObject* item = ints[tokens[i]];
        Py_INCREF(item);
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

}  // namespace tessaron::py
