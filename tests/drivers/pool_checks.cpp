// Checks of the worker pool's hand-off: runs in quick succession, with and without the
// calling thread taking part, each finishing every index exactly once before it returns,
// bodies running only inside their own run, and a body's failure reaching the caller. The pool's
// size comes from the environment. Prints each failed check and exits non-zero.
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "parallel/worker_pool.hpp"

#include "expect.hpp"

namespace {

using tessaron::drivers::expect;
using tessaron::drivers::failures;
using tessaron::parallel::WorkerPool;

// Each index writes its slot late in its body, so a run that returned before its last
// index finished would show a slot not yet written.
void runs_finish_every_index(WorkerPool& pool, bool here) {
    std::vector<std::atomic<int>> hits(16);
    std::vector<unsigned> written(16);
    for (unsigned round = 1; round <= 2000; ++round) {
        const std::size_t count = 1 + round % 9;
        for (auto& hit : hits) hit.store(0);
        const WorkerPool::Body body = [&](std::size_t i) {
            hits[i].fetch_add(1);
            volatile unsigned spin = 0;
            for (unsigned k = 0; k < 2000 * (i + 1); ++k) spin = spin + k;
            written[i] = round;
        };
        if (here) {
            pool.run_here(count, body);
        } else {
            pool.run(count, body);
        }
        for (std::size_t i = 0; i < hits.size(); ++i) {
            const int expected = i < count ? 1 : 0;
            if (hits[i].load() != expected || (i < count && written[i] != round)) {
                expect(false, std::string(here ? "run_here" : "run") + ": round " +
                                  std::to_string(round) + ", index " + std::to_string(i));
                return;
            }
        }
    }
}

// Workers stay awake between runs for as long as a run asks and join the next one without a
// lock: a body must run only inside its own run and only with its own indices, whether the
// workers were asleep, awake from the run before, or joining as the caller finishes alone.
void bodies_run_only_inside_their_run(WorkerPool& pool) {
    using std::chrono::microseconds;
    const microseconds lingers[] = {microseconds(0), WorkerPool::kLinger, microseconds(2000)};
    std::atomic<unsigned> current{0};
    std::atomic<int> strays{0};
    std::vector<std::atomic<unsigned>> seen(8);
    // First runs in quick succession while the workers stay awake, often of a single index
    // that the caller takes while they join late; then every way of waiting between runs.
    for (unsigned round = 1; round <= 60000; ++round) {
        const bool quick = round <= 50000;
        const std::size_t count = round % 2 == 0 ? 1 : 2 + round % 3 + (round % 11 == 1 ? 4 : 0);
        current.store(round);
        const WorkerPool::Body body = [&, round, count](std::size_t i) {
            if (current.load() != round || i >= count) strays.fetch_add(1);
            seen[i].store(round);
        };
        if (!quick && round % 13 == 0) {
            pool.run(count, body);
        } else {
            pool.run_here(count, body, quick ? lingers[2] : lingers[round % 3]);
        }
        current.store(0);
        for (std::size_t i = 0; i < count; ++i) {
            if (seen[i].load() != round) {
                expect(false, "round " + std::to_string(round) + ": index " + std::to_string(i) +
                                  " did not run");
                return;
            }
        }
    }
    expect(strays.load() == 0, std::to_string(strays.load()) + " bodies ran outside their run");
}

void failures_reach_the_caller(WorkerPool& pool) {
    for (bool here : {false, true}) {
        std::atomic<int> ran{0};
        bool caught = false;
        try {
            const WorkerPool::Body body = [&](std::size_t i) {
                ran.fetch_add(1);
                if (i == 2) throw std::runtime_error("index 2");
            };
            if (here) {
                pool.run_here(5, body);
            } else {
                pool.run(5, body);
            }
        } catch (const std::runtime_error& error) {
            caught = std::string(error.what()) == "index 2";
        }
        expect(caught, "the failure of one index is rethrown");
        expect(ran.load() == 5, "the other indices still run");
        std::atomic<int> after{0};
        pool.run_here(3, [&](std::size_t) { after.fetch_add(1); });
        expect(after.load() == 3, "the pool works after a failure");
    }
}

}  // namespace

int main() {
    WorkerPool& pool = WorkerPool::global();
    runs_finish_every_index(pool, true);
    runs_finish_every_index(pool, false);
    // Alternating, so that workers still awake from one kind of run meet the other.
    for (int i = 0; i < 10; ++i) {
        runs_finish_every_index(pool, i % 2 == 0);
        if (failures != 0) break;
    }
    bodies_run_only_inside_their_run(pool);
    failures_reach_the_caller(pool);
    return failures == 0 ? 0 : 1;
}
