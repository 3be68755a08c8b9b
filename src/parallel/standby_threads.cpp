#include "parallel/standby_threads.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "parallel/spin.hpp"

namespace tessaron::parallel {

// One kept thread and what it is given. On a cache line of its own: the caller and the
// thread each write it once a run, and a neighbour's writes would cost every read of it.
struct alignas(64) StandbyThreads::Kept {
    // Bumped for each body given; the thread runs the body once it sees a new turn.
    std::atomic<std::uint32_t> turn{0};
    // The turn whose body has returned.
    std::atomic<std::uint32_t> done{0};
    // Null with a new turn: the thread is not wanted any more and ends.
    const Body* body = nullptr;
    std::size_t index = 0;
};

namespace {

using Kept = StandbyThreads::Kept;

// The caller's own share of a batch ends within a few hundred µs of the others'.
constexpr auto kCallerSpin = std::chrono::microseconds(200);

// The threads kept between runs. Replaced whole in a child made by fork(): the parent's
// threads do not exist there, and the lock may have been held by one of them.
struct Keeper {
    std::mutex lock;
    std::vector<Kept*> idle;
    std::size_t most = std::max<std::size_t>(2, 2 * std::thread::hardware_concurrency());
};

std::atomic<Keeper*> keeper_now{nullptr};

Keeper& keeper() {
    static const bool registered = [] {
        keeper_now.store(new Keeper);
        // Around fork(): no other thread may hold the lock while the child is copied, and the
        // child starts over with no kept threads (the old keeper is left, not destroyed).
        pthread_atfork([] { keeper_now.load()->lock.lock(); },
                       [] { keeper_now.load()->lock.unlock(); },
                       [] { keeper_now.store(new Keeper); });
        return true;
    }();
    static_cast<void>(registered);
    return *keeper_now.load();
}

void serve(Kept* kept) {
    pthread_setname_np(pthread_self(), "tessaron-batch");
    std::uint32_t seen = 0;
    for (;;) {
        kept->turn.wait(seen, std::memory_order_acquire);
        seen = kept->turn.load(std::memory_order_acquire);
        if (kept->body == nullptr) break;
        // A body that throws ends the process here, as it would on a thread of its own.
        [&]() noexcept { (*kept->body)(kept->index); }();
        kept->done.store(seen, std::memory_order_release);
        kept->done.notify_one();
    }
    delete kept;
}

void give(Kept* kept, const StandbyThreads::Body* body, std::size_t index) {
    kept->body = body;
    kept->index = index;
    kept->turn.fetch_add(1, std::memory_order_release);
    kept->turn.notify_one();
}

}  // namespace

StandbyThreads::StandbyThreads(std::size_t count, const Body& body) : body_(body) {
    threads_.reserve(count);
    {
        Keeper& keep = keeper();
        const std::lock_guard<std::mutex> hold(keep.lock);
        while (threads_.size() < count && !keep.idle.empty()) {
            threads_.push_back(keep.idle.back());
            keep.idle.pop_back();
        }
    }
    while (threads_.size() < count) {
        // No more threads (or memory) to be had: the ones there are and the caller do the work.
        Kept* kept = nullptr;
        try {
            kept = new Kept;
            std::thread(serve, kept).detach();
        } catch (...) {
            delete kept;
            break;
        }
        threads_.push_back(kept);
    }
    started_ = threads_.size();
    for (std::size_t i = 0; i < started_; ++i) give(threads_[i], &body_, i + 1);
}

void StandbyThreads::wait() {
    if (threads_.empty()) return;
    for (Kept* kept : threads_) {
        const std::uint32_t turn = kept->turn.load(std::memory_order_relaxed);
        auto done = [&] { return kept->done.load(std::memory_order_acquire) == turn; };
        if (spin_until(done, kCallerSpin)) continue;
        for (std::uint32_t now; (now = kept->done.load(std::memory_order_acquire)) != turn;) {
            kept->done.wait(now, std::memory_order_acquire);
        }
    }
    Keeper& keep = keeper();
    const std::lock_guard<std::mutex> hold(keep.lock);
    for (Kept* kept : threads_) {
        if (keep.idle.size() < keep.most) {
            keep.idle.push_back(kept);
        } else {
            give(kept, nullptr, 0);
        }
    }
    threads_.clear();
}

}  // namespace tessaron::parallel
