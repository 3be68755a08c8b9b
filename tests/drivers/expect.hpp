// The check drivers' one way to report: each failed check is printed and counted, and the
// driver exits non-zero when any failed.
#pragma once

#include <cstdio>
#include <string>

namespace tessaron::drivers {

inline int failures = 0;

inline void expect(bool condition, const std::string& what) {
    if (!condition) {
        std::fprintf(stderr, "failed: %s\n", what.c_str());
        ++failures;
    }
}

}  // namespace tessaron::drivers
