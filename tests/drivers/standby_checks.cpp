// Checks of the threads kept for batches: every body of a run done once before wait()
// returns, the same threads taken again by the next runs, callers on several threads at once
// each getting threads of their own, threads past the number kept ending, and a child made by
// fork() starting threads of its own. Prints each failed check and exits non-zero.
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "parallel/standby_threads.hpp"

#include "expect.hpp"

namespace {

using tessaron::drivers::expect;
using tessaron::drivers::failures;
using tessaron::parallel::StandbyThreads;

std::size_t task_count() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                      std::filesystem::directory_iterator()));
}

long thread_id() { return syscall(SYS_gettid); }

// Each body writes its slot late, so a wait() that returned before a body finished would
// show a slot not yet written.
void runs_finish_every_body(const std::string& who, unsigned rounds) {
    std::vector<std::atomic<int>> hits(9);
    std::vector<unsigned> written(9);
    for (unsigned round = 1; round <= rounds; ++round) {
        const std::size_t count = round % 8;
        for (auto& hit : hits) hit.store(0);
        const StandbyThreads::Body body = [&](std::size_t i) {
            hits[i].fetch_add(1);
            volatile unsigned spin = 0;
            for (unsigned k = 0; k < 3000 * i; ++k) spin = spin + k;
            written[i] = round;
        };
        StandbyThreads threads(count, body);
        expect(threads.started() == count, who + ": threads started");
        threads.wait();
        expect(threads.started() == count, who + ": threads started, after the run");
        for (std::size_t i = 0; i < hits.size(); ++i) {
            const bool ran = i >= 1 && i <= count;
            if (hits[i].load() != (ran ? 1 : 0) || (ran && written[i] != round)) {
                expect(false,
                       who + ": round " + std::to_string(round) + ", body " + std::to_string(i));
                return;
            }
        }
    }
}

// The threads of one run are those of the next: none is started again.
void threads_are_kept() {
    std::mutex lock;
    std::set<long> ids;
    const StandbyThreads::Body body = [&](std::size_t) {
        const std::lock_guard<std::mutex> hold(lock);
        ids.insert(thread_id());
    };
    // Two: as many as any machine keeps.
    StandbyThreads(2, body).wait();
    const std::set<long> first = ids;
    for (int round = 0; round < 50; ++round) StandbyThreads(2, body).wait();
    expect(first.size() == 2 && ids == first, "the next runs took the threads of the first");
}

// Threads beyond those kept end once their run has: a run of 200 leaves the process with
// at most the kept ones.
void threads_past_the_kept_end() {
    const std::size_t before = task_count();
    const std::size_t kept = std::max<std::size_t>(2, 2 * std::thread::hardware_concurrency());
    StandbyThreads(200, [](std::size_t) {}).wait();
    std::size_t now = task_count();
    for (int wait = 0; wait < 500 && now > std::max(before, kept + 1); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = task_count();
    }
    expect(now <= std::max(before, kept + 1),
           "threads past the kept ones ended: " + std::to_string(now) + " left");
}

// Callers on several threads at once, each with runs of its own in quick succession.
void callers_at_once() {
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c) {
        callers.emplace_back([c] { runs_finish_every_body("caller " + std::to_string(c), 300); });
    }
    for (std::thread& caller : callers) caller.join();
}

// ThreadSanitizer does not follow threads started after fork() in a process with threads.
#ifndef __SANITIZE_THREAD__
// A child made by fork() while the parent keeps threads must start its own.
void forked_child_runs() {
    StandbyThreads(2, [](std::size_t) {}).wait();
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);  // a child waiting on its parent's threads would hang
        std::atomic<int> ran{0};
        StandbyThreads(2, [&](std::size_t) { ran.fetch_add(1); }).wait();
        _exit(ran.load() == 2 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    expect(WIFEXITED(status) && WEXITSTATUS(status) == 0, "a forked child ran its bodies");
}
#endif

}  // namespace

int main() {
    runs_finish_every_body("one caller", 3000);
    threads_are_kept();
    threads_past_the_kept_end();
    callers_at_once();
#ifndef __SANITIZE_THREAD__
    forked_child_runs();
#endif
    return failures == 0 ? 0 : 1;
}
