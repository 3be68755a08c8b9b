// Threads kept from call to call for work that runs on a few threads for milliseconds at a
// time (batches of texts). Starting a thread cost its caller 80 to 120 µs in the interpreter's
// process and waiting for its exit about 100 µs more, a tenth of a two-thread batch of 4 MB;
// waking a kept thread costs a few µs. Each run checks threads out for itself, so runs on
// several callers at once never wait for each other. Unlike the worker pool, their number
// follows the runs, not the environment: a run of n gets n threads.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace tessaron::parallel {

class StandbyThreads {
public:
    using Body = std::function<void(std::size_t)>;

    // Starts body(1), ..., body(count), each on a thread of its own (kept ones first): fewer
    // when the system gives no more threads, so that the caller does the rest. `body` must
    // outlive this and must not throw; one that does ends the process, as an escaping
    // exception on any thread would.
    StandbyThreads(std::size_t count, const Body& body);
    StandbyThreads(const StandbyThreads&) = delete;
    StandbyThreads& operator=(const StandbyThreads&) = delete;
    ~StandbyThreads() { wait(); }

    // How many bodies run (or ran): body(1) to body(started()).
    std::size_t started() const { return started_; }

    // Returns once every body has returned, and keeps their threads for later runs.
    void wait();

    struct Kept;

private:
    const Body& body_;
    std::vector<Kept*> threads_;  // until wait() gives them back
    std::size_t started_ = 0;
};

}  // namespace tessaron::parallel
