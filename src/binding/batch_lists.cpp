#include "binding/batch_lists.hpp"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "tokenizer/basic/encode_batch.hpp"

namespace tessaron::py {

namespace {

// A thread's count of the references it wrote: per token number, and the numbers counted, each
// once. On cache lines of its own: a thread writes its `used` as it counts, and a neighbour's
// thread reading its own vectors on the same line took up to 60 % longer to fill its lists, in
// some processes and not others, as the allocator placed them.
struct alignas(64) Uses {
    std::vector<std::size_t> count;
    std::vector<std::uint32_t> used;
    // Counts of an earlier batch are left in place, to be cleared by the next thread to count.
    bool stale = false;

    void clear_stale() {
        for (const std::uint32_t number : used) count[number] = 0;
        used.clear();
        stale = false;
    }
};

// Counts that finished batches left for the next batch of any model, so that the threads clear
// only the counts used, on their own, rather than each a whole new one (`o200k_base`: 1.6 MB a
// thread), whose pages are new to the process whenever the allocator gave them back to the
// system in between: in those processes a thread spent about 2 ms a call faulting them in.
// Touched only under the interpreter lock.
class KeptUses {
public:
    static KeptUses& global() {
        static KeptUses kept;
        return kept;
    }

    // One kept, or empty ones. Any will do: one too small for a model grows when counted, and
    // comes back grown.
    Uses take() {
        if (kept_.empty()) return {};
        Uses uses = std::move(kept_.back());
        kept_.pop_back();
        bytes_ -= bytes_of(uses);
        return uses;
    }

    // Kept while there is room, as many as the machine runs threads. Never fails, so that the
    // counts of a batch are added whole.
    void leave(Uses uses) noexcept {
        if (kept_.size() == most_ || bytes_ + bytes_of(uses) > kMostBytes) return;
        bytes_ += bytes_of(uses);
        kept_.push_back(std::move(uses));
    }

private:
    static constexpr std::size_t kMostBytes = std::size_t{64} << 20;

    KeptUses() : most_(std::max(2u, std::thread::hardware_concurrency())) { kept_.reserve(most_); }

    static std::size_t bytes_of(const Uses& uses) {
        return uses.count.capacity() * sizeof(std::size_t) +
               uses.used.capacity() * sizeof(std::uint32_t);
    }

    const std::size_t most_;
    std::size_t bytes_ = 0;
    std::vector<Uses> kept_;
};

class BatchLists final : public basic::BatchTaker {
public:
    BatchLists(std::span<PyObject* const> ints, PyThreadState*& unlocked)
        : ints_(ints), unlocked_(unlocked) {}

    void prepare(std::span<const std::size_t> lengths, std::size_t threads) override {
        PyEval_RestoreThread(unlocked_);
        try {
            make_lists(lengths);
            uses_.resize(threads);
            for (Uses& uses : uses_) uses = KeptUses::global().take();
        } catch (...) {
            unlocked_ = PyEval_SaveThread();
            throw;
        }
        unlocked_ = PyEval_SaveThread();
    }

    void take(std::size_t thread, std::size_t text,
              std::span<const std::uint32_t> numbers) override {
        Uses& uses = uses_[thread];
        // Counted densely: a batch uses a good share of the vocabulary, and a hash would cost
        // more per id than the whole fill does.
        if (uses.stale) uses.clear_stale();
        if (uses.count.size() < ints_.size()) uses.count.assign(ints_.size(), 0);
        PyObject** item = items_[text];
        for (const std::uint32_t number : numbers) {
            *item++ = ints_[number];
            if (uses.count[number]++ == 0) uses.used.push_back(number);
        }
    }

    // With the lock back: the references written become counted and the lists visible.
    Ref finish() {
        for (Uses& uses : uses_) {
            // A thread that took no run this time left an earlier batch's counts.
            if (!uses.stale) {
                for (const std::uint32_t number : uses.used) {
                    PyObject* item = ints_[number];
                    Py_SET_REFCNT(item,
                                  Py_REFCNT(item) + static_cast<Py_ssize_t>(uses.count[number]));
                }
                uses.stale = true;
            }
            KeptUses::global().leave(std::move(uses));
        }
        for (std::size_t i = 0; i < lengths_.size(); ++i) {
            PyObject* list = PyList_GET_ITEM(lists_.get(), static_cast<Py_ssize_t>(i));
            Py_SET_SIZE(list, static_cast<Py_ssize_t>(lengths_[i]));
            PyObject_GC_Track(list);
        }
        return std::move(lists_);
    }

private:
    // Each list empty, with room for its ids: their memory comes from the interpreter's
    // allocator, which frees it with the list, and is not cleared first.
    void make_lists(std::span<const std::size_t> lengths) {
        lists_ = Ref::checked(PyList_New(static_cast<Py_ssize_t>(lengths.size())));
        items_.reserve(lengths.size());
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            PyObject* list = PyList_New(0);
            if (list == nullptr) throw_error_set();
            PyObject_GC_UnTrack(list);
            PyList_SET_ITEM(lists_.get(), static_cast<Py_ssize_t>(i), list);
            PyObject** items = nullptr;
            if (lengths[i] != 0) {
                items = static_cast<PyObject**>(PyMem_Malloc(lengths[i] * sizeof(PyObject*)));
                if (items == nullptr) {
                    PyErr_NoMemory();
                    throw_error_set();
                }
                auto* object = reinterpret_cast<PyListObject*>(list);
                object->ob_item = items;
                object->allocated = static_cast<Py_ssize_t>(lengths[i]);
            }
            items_.push_back(items);
        }
        lengths_.assign(lengths.begin(), lengths.end());
    }

    std::span<PyObject* const> ints_;
    PyThreadState*& unlocked_;
    Ref lists_;
    std::vector<PyObject**> items_;  // per text
    std::vector<std::size_t> lengths_;  // per text
    std::vector<Uses> uses_;  // per thread
};

}  // namespace

Ref encode_batch_lists(IdInts& ints, const basic::Model& model,
                       std::span<const std::string_view> texts, const SpecialMatcher* specials,
                       pretok::KnownPieces* known, std::size_t threads) {
    if (ints.empty()) ints.rebuild(model);
    PyThreadState* unlocked = PyEval_SaveThread();
    BatchLists lists(ints.all(), unlocked);
    try {
        basic::encode_batch_to(model, texts, specials, known, threads, lists);
    } catch (...) {
        PyEval_RestoreThread(unlocked);
        throw;
    }
    PyEval_RestoreThread(unlocked);
    return lists.finish();
}

}  // namespace tessaron::py
