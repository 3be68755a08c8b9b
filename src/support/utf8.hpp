// UTF-8 sequence boundaries as the Unicode Standard defines well-formedness: no overlong
// forms, no surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <string_view>

namespace tessaron {

struct Utf8Step {
    std::size_t length;  // bytes of the sequence, or of its maximal ill-formed subpart
    bool valid;
};

// The sequence that starts at p[0], a byte of 0x80 or more, within n > 0 bytes.
inline Utf8Step utf8_step(const unsigned char* p, std::size_t n) {
    const unsigned char b = p[0];
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        need = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return {1, false};
    }
    if (n < 2 || p[1] < lo || p[1] > hi) return {1, false};
    std::size_t length = 2;
    while (length < need && length < n && (p[length] & 0xC0) == 0x80) ++length;
    return {length, length == need};
}

inline bool is_valid_utf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const Utf8Step step = utf8_step(p + i, n - i);
        if (!step.valid) return false;
        i += step.length;
    }
    return true;
}

}  // namespace tessaron
