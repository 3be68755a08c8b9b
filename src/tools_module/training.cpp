#include "tools_module/training.hpp"

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "persist/read_files.hpp"
#include "tokenizer/pretok/piece_merge_learner.hpp"
#include "tools_module/raise_errors.hpp"

namespace tessaron::tools {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportEvery = std::chrono::milliseconds(100);

// The interpreter lock released for the life of a training call, taken back now and then.
class UnlockedSession {
public:
    explicit UnlockedSession(PyObject* progress)
        : progress_(progress), saved_(PyEval_SaveThread()) {}
    ~UnlockedSession() { finish(); }
    UnlockedSession(const UnlockedSession&) = delete;
    UnlockedSession& operator=(const UnlockedSession&) = delete;

    // Without the lock: at most every kReportEvery, or at once after a signal, takes it to
    // report. False when that raised; the exception stays set.
    bool check(std::uint64_t done, std::uint64_t wanted, bool signalled = false) {
        // The saved thread state belongs to the calling thread; no other may take the lock
        // with it.
        if (saved_ == nullptr || std::this_thread::get_id() != caller_) return true;
        const Clock::time_point now = Clock::now();
        if (now < next_ && !signalled) return true;
        next_ = now + kReportEvery;
        PyEval_RestoreThread(saved_);
        const bool go_on = report(done, wanted);
        saved_ = PyEval_SaveThread();
        return go_on;
    }

    // Takes the lock back for good.
    void finish() {
        if (saved_ != nullptr) PyEval_RestoreThread(std::exchange(saved_, nullptr));
    }

    // With the lock: runs the signal handlers, then the callback. False when either raised.
    bool report(std::uint64_t done, std::uint64_t wanted) {
        if (PyErr_CheckSignals() < 0) return false;
        if (progress_ == nullptr) return true;
        py::Ref result = py::Ref::steal(
            PyObject_CallFunction(progress_, "KK", static_cast<unsigned long long>(done),
                                  static_cast<unsigned long long>(wanted)));
        return static_cast<bool>(result);
    }

private:
    PyObject* progress_;
    std::thread::id caller_ = std::this_thread::get_id();
    PyThreadState* saved_;
    Clock::time_point next_ = Clock::now() + kReportEvery;
};

basic::Model learn(UnlockedSession& session, std::span<const std::uint8_t> text,
                   const TrainSettings& settings) {
    basic::Model model;
    const basic::TrainProgress hook = [&](std::uint64_t done, std::uint64_t wanted) {
        return session.check(done, wanted);
    };
    bool finished;
    if (settings.pattern) {
        const std::string_view bytes(reinterpret_cast<const char*>(text.data()), text.size());
        const auto rules = pretok::learn_piece_merges(
            *settings.pattern, bytes, settings.rules_wanted, settings.threads, hook);
        finished = rules.has_value();
        if (finished) {
            basic::MergeMap merges;
            merges.reserve(rules->size());
            for (std::size_t i = 0; i < rules->size(); ++i) {
                merges.insert({(*rules)[i].left, (*rules)[i].right}, 256 + i);
            }
            model.replace(std::move(merges), {}, settings.pattern->expression());
        }
    } else {
        finished = model.train(text, 256 + settings.rules_wanted, settings.threads, hook);
    }
    session.finish();
    // Stopped: the exception that stopped it is set.
    if (!finished) py::throw_error_set();
    if (!session.report(model.merges().size(), settings.rules_wanted)) py::throw_error_set();
    return model;
}

}  // namespace

basic::Model train_without_lock(std::span<const std::uint8_t> text, const TrainSettings& settings) {
    UnlockedSession session(settings.progress);
    return learn(session, text, settings);
}

basic::Model train_files_without_lock(const std::vector<Path>& paths,
                                      const TrainSettings& settings) {
    std::vector<std::string> names;
    names.reserve(paths.size());
    for (const Path& path : paths) names.push_back(path.bytes);

    UnlockedSession session(settings.progress);
    std::string text;
    std::size_t failed = 0;
    const IoStatus status = persist::read_files(names, text, failed, [&](bool signalled) {
        return session.check(0, settings.rules_wanted, signalled);
    });
    if (!status.ok()) {
        session.finish();
        if (PyErr_Occurred()) py::throw_error_set();
        raise_file_error(status.error(), paths[failed].name.get());
    }
    return learn(session, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                 settings);
}

}  // namespace tessaron::tools
