// How many workers the process-wide pool gets, from the environment and the machine.
#pragma once

#include <cstddef>

namespace tessaron::parallel {

inline constexpr std::size_t kMaxWorkers = 0xFFFF;

// RAYON_NUM_THREADS (0 means one per processor), else RAYON_RS_NUM_CPUS, else the
// processors this process may run on; capped at kMaxWorkers.
std::size_t pool_size_from_environment();

// The processors this process may run on (at least 1).
std::size_t usable_processors();

}  // namespace tessaron::parallel
