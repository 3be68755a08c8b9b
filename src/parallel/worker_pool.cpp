#include "parallel/worker_pool.hpp"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>

#include "parallel/pool_size.hpp"
#include "parallel/spin.hpp"
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

// How long a caller stays awake for the workers' last indices.
constexpr auto kSpin = std::chrono::microseconds(100);

}  // namespace

void WorkerPool::run(std::size_t count, const Body& body) {
    if (count == 0) return;
    std::lock_guard<std::mutex> one_run(run_lock_);
    const std::size_t wanted = std::min(count, threads_.size());
    open(count, body, wanted, wanted, kLinger);
    close(false);
}

void WorkerPool::run_here(std::size_t count, const Body& body, std::chrono::microseconds linger) {
    if (count == 0) return;
    std::lock_guard<std::mutex> one_run(run_lock_);
    const std::size_t wanted = std::min(count - 1, threads_.size());
    const std::size_t awake = spinning_.load(std::memory_order_relaxed);
    open(count, body, wanted, wanted > awake ? wanted - awake : 0, linger);
    take(&body, count);
    close(true);
}

void WorkerPool::open(std::size_t count, const Body& body, std::size_t wanted, std::size_t wake,
                      std::chrono::microseconds linger) {
    body_ = &body;
    count_ = count;
    wanted_ = wanted;
    linger_ = linger;
    next_.store(0, std::memory_order_relaxed);
    open_.store(true, std::memory_order_seq_cst);
    generation_.fetch_add(1, std::memory_order_seq_cst);
    if (wake == 0) return;
    // A worker between its look at generation_ and its sleep holds the lock: once it is
    // free, the worker sleeps and gets the notice.
    {
        std::lock_guard<std::mutex> lock(mutex_);
    }
    if (wake >= threads_.size()) {
        wake_.notify_all();
    } else {
        for (std::size_t i = 0; i < wake; ++i) wake_.notify_one();
    }
}

bool WorkerPool::take(const Body* body, std::size_t count) {
    bool took = false;
    for (;;) {
        const std::size_t index = next_.fetch_add(1, std::memory_order_relaxed);
        if (index >= count) return took;
        took = true;
        try {
            (*body)(index);
        } catch (...) {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
    }
}

template <class Done>
void WorkerPool::wait_for(bool spin, Done done) {
    if (spin && spin_until(done, kSpin)) return;
    caller_sleeping_.store(true, std::memory_order_seq_cst);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, done);
    }
    caller_sleeping_.store(false, std::memory_order_relaxed);
}

void WorkerPool::close(bool spin) {
    // Every index taken and no worker inside: nothing of this run is left to finish.
    wait_for(spin, [this] {
        return next_.load(std::memory_order_seq_cst) >= count_ &&
               busy_.load(std::memory_order_seq_cst) == 0;
    });
    // A worker that joined after that look and still saw the run open takes nothing from
    // it; those that look later see it closed. Once they have left, nobody reads body_.
    open_.store(false, std::memory_order_seq_cst);
    wait_for(true, [this] { return busy_.load(std::memory_order_seq_cst) == 0; });
    body_ = nullptr;
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(failure, failure_);
    }
    if (failure) std::rethrow_exception(failure);
}

void WorkerPool::work() {
    pthread_setname_np(pthread_self(), "tessaron-worker");
    std::uint64_t seen = 0;
    std::chrono::microseconds linger{0};
    for (;;) {
        if (linger.count() > 0) {
            spinning_.fetch_add(1, std::memory_order_relaxed);
            spin_until([&] { return generation_.load(std::memory_order_acquire) != seen; }, linger);
            spinning_.fetch_sub(1, std::memory_order_relaxed);
        }
        if (generation_.load(std::memory_order_acquire) == seen) {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] {
                return stopping_ || generation_.load(std::memory_order_relaxed) != seen;
            });
            if (stopping_) return;
        }
        // Joining first and looking second: either close() sees this worker busy and waits
        // for it, or this worker sees the run closed (or a newer one opened) and leaves.
        seen = generation_.load(std::memory_order_acquire);
        busy_.fetch_add(1, std::memory_order_seq_cst);
        linger = std::chrono::microseconds(0);
        if (open_.load(std::memory_order_seq_cst) &&
            generation_.load(std::memory_order_seq_cst) == seen) {
            // One that the run left nothing stays awake too while fewer are than the run
            // could use: the caller took its index before it came, and asleep it would miss
            // the next run as well (waking it cost the caller more than the run). Beside
            // enough others awake, it would only take their cores.
            if (take(body_, count_) || spinning_.load(std::memory_order_relaxed) < wanted_) {
                linger = linger_;
            }
        }
        if (busy_.fetch_sub(1, std::memory_order_seq_cst) == 1 &&
            caller_sleeping_.load(std::memory_order_seq_cst)) {
            // The caller may be between its look at busy_ and its sleep, holding the lock.
            {
                std::lock_guard<std::mutex> lock(mutex_);
            }
            finished_.notify_one();
        }
    }
}

}  // namespace tessaron::parallel
