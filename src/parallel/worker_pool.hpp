// The one pool of worker threads in the process. Workers run plain C++ bodies and never
// touch Python; the submitting thread blocks until a whole run has finished.
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

private:
    // Throws std::system_error when a thread cannot be started, after stopping the others.
    explicit WorkerPool(std::size_t workers);
    ~WorkerPool() = default;

    void work();
    void stop_and_join();

    std::mutex run_lock_;  // one run at a time, whoever submits
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::uint64_t generation_ = 0;
    bool stopping_ = false;
    const Body* body_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    std::size_t busy_ = 0;  // workers that have not yet left the current run
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

}  // namespace tessaron::parallel
