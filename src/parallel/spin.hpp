// Waiting awake: for waits of microseconds, where sleeping and being woken costs more.
#pragma once

#include <chrono>

namespace tessaron::parallel {

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until done() holds, true, or until `limit` has passed, false.
template <class Done>
bool spin_until(Done done, std::chrono::microseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (unsigned i = 1;; ++i) {
        if (done()) return true;
        relax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() > deadline) return false;
    }
}

}  // namespace tessaron::parallel
