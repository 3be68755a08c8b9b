// Shared or exclusive access to the native state an object owns, refused for re-entrant calls
// that would conflict (Python code run by an argument conversion may call back into the object).
#pragma once

#include <atomic>
#include <cstdint>

#include "binding/ref.hpp"

namespace tessaron::py {

enum class Access { Shared, Exclusive };

class Borrow {
public:
    static constexpr std::uint64_t kExclusive = ~std::uint64_t{0};

    // Throws ErrorAlreadySet with RuntimeError set when the access cannot be had.
    Borrow(std::atomic<std::uint64_t>& flag, Access access) : flag_(flag), access_(access) {
        if (access == Access::Exclusive) {
            std::uint64_t expected = 0;
            if (!flag.compare_exchange_strong(expected, kExclusive)) refuse("Already borrowed");
            return;
        }
        std::uint64_t current = flag.load();
        do {
            if (current == kExclusive) refuse("Already mutably borrowed");
        } while (!flag.compare_exchange_weak(current, current + 1));
    }
    ~Borrow() {
        if (access_ == Access::Exclusive) {
            flag_.store(0);
        } else {
            flag_.fetch_sub(1);
        }
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

private:
    [[noreturn]] static void refuse(const char* message) {
        PyErr_SetString(PyExc_RuntimeError, message);
        throw ErrorAlreadySet{};
    }

    std::atomic<std::uint64_t>& flag_;
    Access access_;
};

}  // namespace tessaron::py
