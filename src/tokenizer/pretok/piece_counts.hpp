// The distinct pieces of a text under a split pattern, with how often each occurs.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::pretok {

struct PieceCount {
    std::string_view bytes;  // within the text counted
    std::uint64_t count;
};

// With threads >= 2 the text is cut where every pattern cuts it too, and the parts are
// counted on the worker pool. The order of the result is unspecified.
std::vector<PieceCount> count_pieces(SplitPattern pattern, std::string_view text,
                                     std::uint64_t threads);

}  // namespace tessaron::pretok
