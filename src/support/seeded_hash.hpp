// Hash functors that mix a per-map random seed into every key.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "support/random_seed.hpp"
#include "support/short_bytes.hpp"
#include "support/types.hpp"

namespace tessaron {

inline std::uint64_t mix64(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
}

struct SeededHash {
    std::uint64_t seed = random_seed();

    std::size_t operator()(std::uint64_t key) const { return mix64(key ^ seed); }
    std::size_t operator()(const TokenPair& pair) const {
        return mix64(mix64(pair.left ^ seed) ^ pair.right);
    }
    std::size_t operator()(std::string_view text) const {
        std::uint64_t h = seed ^ (text.size() * 0x9E3779B97F4A7C15ULL);
        std::size_t i = 0;
        for (; i + 8 <= text.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            h = mix64(h ^ word);
        }
        return mix64(h ^ short_bytes_word(text.data() + i, text.size() - i));
    }
    std::size_t operator()(const std::string& text) const {
        return (*this)(std::string_view(text));
    }
};

}  // namespace tessaron
