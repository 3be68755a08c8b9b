// Checks of the worker pool's hand-off: runs in quick succession, with and without the
// calling thread taking part, each finishing every index exactly once before it returns,
// and a body's failure reaching the caller. The pool's size comes from the environment.
// Prints each failed check and exits non-zero.
#include <atomic>
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
    failures_reach_the_caller(pool);
    return failures == 0 ? 0 : 1;
}
