#include "parallel/worker_pool.hpp"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

namespace {

// How long a worker that had an index stays awake for the next run, and a caller for the
// workers' last indices: a few merge steps' worth of the caller's own work.
constexpr auto kSpin = std::chrono::microseconds(100);

void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

template <class Done>
bool spin_until(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kSpin;
    for (unsigned i = 1;; ++i) {
        if (done()) return true;
        relax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() > deadline) return false;
    }
}

}  // namespace

void WorkerPool::run(std::size_t count, const Body& body) {
    if (count == 0) return;
    std::lock_guard<std::mutex> one_run(run_lock_);
    open(count, body, threads_.size());
    close(false);
}

void WorkerPool::run_here(std::size_t count, const Body& body) {
    if (count == 0) return;
    std::lock_guard<std::mutex> one_run(run_lock_);
    const std::size_t wanted = std::min(count - 1, threads_.size());
    const std::size_t awake = spinning_.load(std::memory_order_relaxed);
    open(count, body, wanted > awake ? wanted - awake : 0);
    take(body, count);
    close(true);
}

void WorkerPool::open(std::size_t count, const Body& body, std::size_t wake) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        body_ = &body;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        failure_ = nullptr;
        open_ = true;
        generation_.fetch_add(1, std::memory_order_release);
    }
    if (wake >= threads_.size()) {
        wake_.notify_all();
    } else {
        for (std::size_t i = 0; i < wake; ++i) wake_.notify_one();
    }
}

bool WorkerPool::take(const Body& body, std::size_t count) {
    bool took = false;
    for (;;) {
        const std::size_t index = next_.fetch_add(1, std::memory_order_relaxed);
        if (index >= count) return took;
        took = true;
        try {
            body(index);
        } catch (...) {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
    }
}

void WorkerPool::close(bool spin) {
    // Every index taken and no worker inside: nothing of this run is left to finish.
    const auto done = [this] {
        return next_.load(std::memory_order_acquire) >= count_ &&
               busy_.load(std::memory_order_acquire) == 0;
    };
    if (spin) spin_until(done);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, done);
    open_ = false;
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
    bool worked = false;
    for (;;) {
        if (worked) {
            spinning_.fetch_add(1, std::memory_order_relaxed);
            spin_until([&] { return generation_.load(std::memory_order_acquire) != seen; });
            spinning_.fetch_sub(1, std::memory_order_relaxed);
        }
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] {
            return stopping_ || (open_ && generation_.load(std::memory_order_relaxed) != seen);
        });
        if (stopping_) return;
        seen = generation_.load(std::memory_order_relaxed);
        const Body* body = body_;
        const std::size_t count = count_;
        busy_.fetch_add(1, std::memory_order_relaxed);
        lock.unlock();
        worked = take(*body, count);
        lock.lock();
        if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) finished_.notify_one();
    }
}

}  // namespace tessaron::parallel
