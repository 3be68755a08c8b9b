// Finds special tokens in a text: scanning left to right, at each place the longest token
// that starts there wins, and the scan goes on after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaron {

class SpecialMatcher {
public:
    struct Match {
        std::size_t begin;  // text.size() when there is none
        std::size_t length;
        std::uint32_t value;  // what the caller gave for the token
    };

    // Tokens are non-empty and distinct, each with the value a match reports.
    explicit SpecialMatcher(std::vector<std::pair<std::string, std::uint32_t>> tokens);

    bool empty() const { return tokens_.empty(); }

    // The first match at or after `from`.
    Match find(std::string_view text, std::size_t from) const;

private:
    // Longest first, so the first token that matches at a place is the longest there.
    std::vector<std::pair<std::string, std::uint32_t>> tokens_;
    // Per first byte: the range of tokens_ (sorted by first byte, then longest first).
    std::array<std::uint32_t, 257> start_{};
};

}  // namespace tessaron
