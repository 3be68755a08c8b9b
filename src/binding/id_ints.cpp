#include "binding/id_ints.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <system_error>
#include <thread>
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

namespace {

// Below this many ids in all, threads would cost more than they save.
constexpr std::size_t kFillOnThreadsFrom = std::size_t{1} << 16;

}  // namespace

Ref IdInts::lists_of(const basic::Model& model, std::span<const std::vector<std::uint32_t>> numbers,
                     std::size_t threads) {
    Ref lists = Ref::checked(PyList_New(static_cast<Py_ssize_t>(numbers.size())));
    std::size_t total = 0;
    for (const std::vector<std::uint32_t>& text : numbers) total += text.size();
    threads = std::clamp<std::size_t>(std::min(threads, total / kFillOnThreadsFrom), 1,
                                      std::max<std::size_t>(numbers.size(), 1));
    if (threads == 1) {
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            PyList_SET_ITEM(lists.get(), static_cast<Py_ssize_t>(i),
                            list_of(model, numbers[i]).release());
        }
        return lists;
    }
    if (empty()) rebuild(model);
    // The lists are made empty here and filled on the threads, each counting the references
    // it writes per int; the counts are added once the lock is back. Until then no Python code
    // sees the lists (untracked, so the collector does not either), and the ints live on in
    // ints_ whatever their counts say.
    std::vector<PyObject**> items(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(numbers[i].size()));
        if (list == nullptr) throw_error_set();
        PyObject_GC_UnTrack(list);
        PyList_SET_ITEM(lists.get(), static_cast<Py_ssize_t>(i), list);
        items[i] = reinterpret_cast<PyListObject*>(list)->ob_item;
    }
    // Texts [starts[t], starts[t + 1]) for thread t, about the same number of ids each.
    std::vector<std::size_t> starts{0};
    std::size_t filled = 0;
    for (std::size_t i = 0; i < numbers.size() && starts.size() < threads; ++i) {
        filled += numbers[i].size();
        if (filled * threads >= total * starts.size()) starts.push_back(i + 1);
    }
    starts.push_back(numbers.size());
    std::vector<std::vector<std::size_t>> counts(starts.size() - 1,
                                                 std::vector<std::size_t>(ints_.size()));
    PyObject* const* ints = ints_.data();
    auto fill = [&](std::size_t t) {
        std::size_t* count = counts[t].data();
        for (std::size_t i = starts[t]; i < starts[t + 1]; ++i) {
            PyObject** item = items[i];
            for (const std::uint32_t number : numbers[i]) {
                *item++ = ints[number];
                ++count[number];
            }
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(counts.size() - 1);
    {
        PyThreadState* saved = PyEval_SaveThread();
        std::size_t t = 1;
        try {
            for (; t < counts.size(); ++t) helpers.emplace_back(fill, t);
        } catch (const std::system_error&) {
            // No more threads to be had: the calling thread fills the rest.
        }
        fill(0);
        for (; t < counts.size(); ++t) fill(t);
        for (std::thread& helper : helpers) helper.join();
        PyEval_RestoreThread(saved);
    }
    for (std::size_t number = 0; number < ints_.size(); ++number) {
        std::size_t uses = 0;
        for (const std::vector<std::size_t>& count : counts) uses += count[number];
        if (uses != 0)
            Py_SET_REFCNT(ints_[number], Py_REFCNT(ints_[number]) + static_cast<Py_ssize_t>(uses));
    }
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        PyObject_GC_Track(PyList_GET_ITEM(lists.get(), static_cast<Py_ssize_t>(i)));
    }
    return lists;
}

}  // namespace tessaron::py
