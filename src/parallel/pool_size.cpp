#include "parallel/pool_size.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace tessaron::parallel {

namespace {

// A decimal integer with an optional leading '+', nothing around it, fitting size_t.
std::optional<std::size_t> decimal_from_env(const char* name) {
    const char* raw = std::getenv(name);
    if (raw == nullptr) return std::nullopt;
    std::string_view text(raw);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::size_t>(c - '0');
        if (value > (SIZE_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::size_t usable_processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<std::size_t>(count);
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::size_t>(online) : 1;
}

std::size_t pool_size_from_environment() {
    std::size_t n = 0;
    if (auto value = decimal_from_env("RAYON_NUM_THREADS")) {
        n = *value > 0 ? *value : usable_processors();
    } else if (auto cpus = decimal_from_env("RAYON_RS_NUM_CPUS"); cpus && *cpus > 0) {
        n = *cpus;
    } else {
        n = usable_processors();
    }
    return std::min(n, kMaxWorkers);
}

}  // namespace tessaron::parallel
