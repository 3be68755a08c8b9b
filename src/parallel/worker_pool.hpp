// The one pool of worker threads in the process. Workers run plain C++ bodies and never
// touch Python; the submitting thread returns only when a whole run has finished.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tessaron::parallel {

class WorkerPool {
public:
    using Body = std::function<void(std::size_t)>;

    // The process's pool, started with all its workers on first use. When the threads
    // cannot be started this fails (InternalFailure) now and on every later call. A child
    // made by fork() gets a pool of its own: the parent's threads do not exist there.
    static WorkerPool& global();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t size() const { return threads_.size(); }

    // Runs body(i) once for every i in [0, count), concurrently on the workers; the caller
    // takes no index itself. The first failure of any body is rethrown here after the run.
    void run(std::size_t count, const Body& body);

    // How long a worker that joined a run of run_here waits awake for the next one, unless
    // the run says otherwise: a few merge steps' worth of the caller's own work.
    static constexpr std::chrono::microseconds kLinger{100};

    // As run, but the calling thread takes indices too and wakes only the workers the
    // rest needs: for runs of a few microseconds, one after another, where waking a worker
    // costs as much as the work. A worker that joined the run waits for the next run
    // awake for `linger`, then sleeps.
    void run_here(std::size_t count, const Body& body, std::chrono::microseconds linger = kLinger);

private:
    // Throws std::system_error when a thread cannot be started, after stopping the others.
    explicit WorkerPool(std::size_t workers);
    ~WorkerPool() = default;

    void work();
    void stop_and_join();
    // Opens a run that `wanted` workers could share, waking up to `wake` sleeping ones.
    void open(std::size_t count, const Body& body, std::size_t wanted, std::size_t wake,
              std::chrono::microseconds linger);
    // Runs indices of the open run until none is left; true when it ran at least one.
    bool take(const Body* body, std::size_t count);
    // Waits until every index has run and every worker has left, then closes the run.
    void close(bool spin);
    // Waits, spinning first when asked, until done() holds.
    template <class Done>
    void wait_for(bool spin, Done done);

    std::mutex run_lock_;  // one run at a time, whoever submits
    // Guards stopping_ and failure_; workers sleep on wake_ and a caller on finished_ under it.
    // Joining and leaving a run take no lock: between runs that follow closely, a worker
    // still awake would otherwise meet the caller on it and sleep.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::atomic<std::uint64_t> generation_{0};  // runs opened
    bool stopping_ = false;
    // A worker that joined (busy_) while the run is open may read body_, count_, wanted_
    // and linger_; they change only once the run is closed and every worker has left.
    std::atomic<bool> open_{false};
    const Body* body_ = nullptr;
    std::size_t count_ = 0;
    std::size_t wanted_ = 0;
    std::chrono::microseconds linger_{0};
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> busy_{0};  // workers that joined the run and have not left
    std::atomic<std::size_t> spinning_{0};  // workers awake between runs
    std::atomic<bool> caller_sleeping_{false};  // on finished_
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

}  // namespace tessaron::parallel
