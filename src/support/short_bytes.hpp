// Short byte strings (the pieces a text splits into, a few bytes each) read and compared without
// a call: at these lengths memcmp's and memcpy's call and dispatch cost more than the work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessaron {

// The bytes p[0, n) for n < 8 in one word, reading nothing outside them. Overlapping loads
// cover every byte, so equal lengths give equal words only for equal bytes.
inline std::uint64_t short_bytes_word(const char* p, std::size_t n) {
    if (n >= 4) {
        std::uint32_t first;
        std::uint32_t last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        return first | (std::uint64_t{last} << 32);
    }
    if (n >= 2) {
        std::uint16_t first;
        std::uint16_t last;
        std::memcpy(&first, p, 2);
        std::memcpy(&last, p + n - 2, 2);
        return first | (std::uint64_t{last} << 16);
    }
    return n == 1 ? static_cast<unsigned char>(*p) : 0;
}

// Whether a[0, n) and b[0, n) hold the same bytes.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
    if (n < 8) return short_bytes_word(a, n) == short_bytes_word(b, n);
    std::uint64_t x;
    std::uint64_t y;
    for (std::size_t i = 0; i + 8 < n; i += 8) {
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return false;
    }
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return x == y;
}

}  // namespace tessaron
