// The one pool of worker threads in the process. Workers run plain C++ bodies and never
// touch Python; the submitting thread returns only when a whole run has finished.
#pragma once

#include <atomic>
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

    // As run, but the calling thread takes indices too and wakes only the workers the
    // rest needs: for runs of a few microseconds, one after another, where waking a worker
    // costs as much as the work. A worker that had an index waits for the next run
    // awake for a short while.
    void run_here(std::size_t count, const Body& body);

private:
    // Throws std::system_error when a thread cannot be started, after stopping the others.
    explicit WorkerPool(std::size_t workers);
    ~WorkerPool() = default;

    void work();
    void stop_and_join();
    // Opens a run, waking up to `wake` sleeping workers.
    void open(std::size_t count, const Body& body, std::size_t wake);
    // Runs indices of the open run until none is left; true when it ran at least one.
    bool take(const Body& body, std::size_t count);
    // Waits until every index has run and every worker has left, then closes the run.
    void close(bool spin);

    std::mutex run_lock_;  // one run at a time, whoever submits
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::atomic<std::uint64_t> generation_{0};
    bool stopping_ = false;
    bool open_ = false;  // workers join only an open run
    const Body* body_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> busy_{0};  // workers that joined the run and have not left
    std::atomic<std::size_t> spinning_{0};  // workers awake between runs
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

}  // namespace tessaron::parallel
