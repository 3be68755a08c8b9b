#include "parallel/worker_pool.hpp"

#include <pthread.h>
#include <unistd.h>

#include <string>
#include <system_error>

#include "parallel/pool_size.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::parallel {

namespace {

struct PoolSlot {
    std::mutex mutex;
    pid_t owner = 0;
    WorkerPool* pool = nullptr;
    bool failed = false;
    std::string failure;
};

PoolSlot& slot() {
    // Never destroyed: workers may still be waiting when the process exits.
    static auto* instance = new PoolSlot;
    return *instance;
}

}  // namespace

WorkerPool& WorkerPool::global() {
    PoolSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    const pid_t self = getpid();
    if (s.owner != self) {
        // First use, or a forked child: the parent's workers were not copied, so its pool
        // (and whatever its locks held at the fork) is abandoned, not destroyed.
        s.owner = self;
        s.pool = nullptr;
        s.failed = false;
        s.failure.clear();
    }
    if (s.pool == nullptr && !s.failed) {
        try {
            s.pool = new WorkerPool(pool_size_from_environment());
        } catch (const std::system_error& error) {
            s.failed = true;
            s.failure = error.what();
        }
    }
    if (s.failed) {
        fail_internal("The global thread pool has not been initialized.: " + s.failure);
    }
    return *s.pool;
}

WorkerPool::WorkerPool(std::size_t workers) {
    threads_.reserve(workers);
    try {
        for (std::size_t i = 0; i < workers; ++i) {
            threads_.emplace_back([this] { work(); });
        }
    } catch (...) {
        stop_and_join();
        throw;
    }
}

void WorkerPool::stop_and_join() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

void WorkerPool::run(std::size_t count, const Body& body) {
    if (count == 0) return;
    std::lock_guard<std::mutex> one_run(run_lock_);
    std::unique_lock<std::mutex> lock(mutex_);
    body_ = &body;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    busy_ = threads_.size();
    failure_ = nullptr;
    ++generation_;
    wake_.notify_all();
    // Every worker checks out of every run, so none can miss the next one.
    finished_.wait(lock, [this] { return busy_ == 0; });
    body_ = nullptr;
    if (failure_) {
        std::exception_ptr failure = failure_;
        failure_ = nullptr;
        lock.unlock();
        std::rethrow_exception(failure);
    }
}

void WorkerPool::work() {
    pthread_setname_np(pthread_self(), "tessaron-worker");
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
        const Body* body = body_;
        const std::size_t count = count_;
        lock.unlock();
        for (;;) {
            const std::size_t index = next_.fetch_add(1, std::memory_order_relaxed);
            if (index >= count) break;
            try {
                (*body)(index);
            } catch (...) {
                std::lock_guard<std::mutex> guard(mutex_);
                if (!failure_) failure_ = std::current_exception();
            }
        }
        lock.lock();
        if (--busy_ == 0) finished_.notify_one();
    }
}

}  // namespace tessaron::parallel
