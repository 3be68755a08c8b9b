#include "support/random_seed.hpp"

#include <sys/random.h>

#include <atomic>
#include <chrono>

namespace tessaron {

std::uint64_t random_seed() {
    std::uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof seed)) {
        return seed;
    }
    // Early boot without entropy: a seed only spreads keys, so a clock and a counter do.
    static std::atomic<std::uint64_t> counter{0};
    auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return now ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
}

}  // namespace tessaron
