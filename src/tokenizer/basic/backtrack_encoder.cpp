#include "tokenizer/basic/backtrack_encoder.hpp"

#include <algorithm>
#include <bit>

#include "tokenizer/internal_failure.hpp"
#include "tokenizer/seeded_hash.hpp"

namespace tessaron::basic {

namespace {

constexpr std::uint64_t kNever = ~std::uint64_t{0};
// A model with a trie has far fewer than 2**31 tokens (their bytes fit in 64 MiB), so the top
// bit of a remembered pair is free for the answer.
constexpr std::uint64_t kJoins = std::uint64_t{1} << 63;

}  // namespace

BacktrackEncoder::BacktrackEncoder(const EncodeTables& tables, std::size_t text_length)
    : tables_(tables), trie_(tables.trie()), merger_(tables),
      // About one seam per four bytes, but about half the pairs of English text are new when
      // asked: past 128 KiB (in the second cache level beside the trie) a larger cache saves
      // fewer seam walks than its misses in the third level cost.
      remembered_(std::bit_ceil(std::clamp<std::size_t>(text_length / 4, 64, std::size_t{1} << 14)),
                  ~std::uint64_t{0}) {}

void BacktrackEncoder::encode(const unsigned char* bytes, std::uint32_t n,
                              std::vector<std::uint32_t>& out) {
    const std::size_t base = out.size();
    dead_.assign(std::size_t{n} + 1, 0);
    // Ordinary text takes a few steps a byte. A crafted model can make the search walk long
    // tokens at every position; past this budget the segment is merged directly instead.
    const std::size_t budget = 64 * std::size_t{n} + 4096;
    std::size_t steps = 0;
    std::uint32_t at = 0;
    std::uint32_t token = trie_.longest_at(bytes, n, steps);
    for (;;) {
        if (steps > budget) {
            out.resize(base);
            merger_.encode(bytes, n, out);
            return;
        }
        if (token != TokenTrie::kNone) {
            const std::uint32_t end = at + trie_.length(token);
            if (!dead_[end] && (out.size() == base || joins_remembered(out.back(), token, steps))) {
                out.push_back(token);
                at = end;
                if (at == n) return;
                token = trie_.longest_at(bytes + at, n - at, steps);
            } else {
                token = trie_.shorter(token);
            }
            continue;
        }
        // Nothing fits here after the tokens before: back out of the last one.
        check(out.size() > base, "no encoding found for a stretch of text");
        dead_[at] = 1;
        const std::uint32_t last = out.back();
        out.pop_back();
        at -= trie_.length(last);
        token = trie_.shorter(last);
    }
}

bool BacktrackEncoder::joins_remembered(std::uint32_t left, std::uint32_t right,
                                        std::size_t& steps) {
    const std::uint64_t pair = (std::uint64_t{left} << 32) | right;
    std::uint64_t& slot = remembered_[mix64(pair) & (remembered_.size() - 1)];
    if ((slot & ~kJoins) == pair) return (slot & kJoins) != 0;
    const bool result = joins(left, right, steps);
    slot = pair | (result ? kJoins : 0);
    return result;
}

bool BacktrackEncoder::joins(std::uint32_t left, std::uint32_t right,
                             std::size_t& steps) const {
    return !trie_.seam_crossed(tables_, left, right, kNever, kNever, steps);
}

}  // namespace tessaron::basic
