// Token ids and pairs shared by every part of the core.
#pragma once

#include <cstdint>

namespace tessaron {

// Ids 0..255 are single bytes; merged tokens and special tokens use any other value.
using TokenId = std::uint64_t;

struct TokenPair {
    TokenId left;
    TokenId right;

    friend bool operator==(const TokenPair&, const TokenPair&) = default;
    // Numeric order, left first: the tie-break among equally frequent pairs.
    friend auto operator<=>(const TokenPair&, const TokenPair&) = default;
};

}  // namespace tessaron
