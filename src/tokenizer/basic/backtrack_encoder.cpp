#include "tokenizer/basic/backtrack_encoder.hpp"

#include <algorithm>
#include <iterator>

#include "support/internal_failure.hpp"

namespace tessaron::basic {

BacktrackEncoder::BacktrackEncoder(const EncodeTables& tables)
    : tables_(tables), trie_(tables.trie()), seams_(tables.seams()) {}

bool BacktrackEncoder::encode(const unsigned char* bytes, std::uint32_t n,
                              std::vector<std::uint32_t>& out) {
    const std::size_t base = out.size();
    const std::size_t words = std::size_t{n} / 64 + 1;
    if (words <= std::size(short_dead_)) {
        dead_ = short_dead_;
    } else {
        long_dead_.assign(words, 0);
        dead_ = long_dead_.data();
    }
    std::fill_n(dead_, words, 0);
    auto dead = [&](std::uint32_t at) { return (dead_[at >> 6] >> (at & 63)) & 1; };
    // The budget grows with the furthest position reached, so a text the search cannot do
    // is handed back early, before most of the work is wasted; it starts with room for walks
    // as deep as the longest token.
    const std::size_t allowance = 4096 + 64 * trie_.longest();
    std::size_t steps = 0;
    std::uint32_t at = 0;
    std::uint32_t reach = 0;
    auto ahead = [this](std::uint32_t token) { seams_.prefetch_right(token); };
    TokenTrie::Found found = trie_.longest_at(bytes, n, steps, ahead);
    for (;;) {
        if (steps > allowance + 64 * std::size_t{reach}) {
            out.resize(base);
            return false;
        }
        if (found.token != TokenTrie::kNone) {
            const std::uint32_t end = at + found.length;
            // No merge crosses where no token can span the two bytes: no need to ask the seams.
            if (!dead(end) && (out.size() == base || !tables_.joins(bytes[at - 1], bytes[at]) ||
                               seams_.joins(tables_.ranks(), out.back(), found.token, steps))) {
                out.push_back(found.token);
                seams_.prefetch_left(found.token);
                at = end;
                if (at == n) return true;
                reach = std::max(reach, at);
                found = trie_.longest_at(bytes + at, n - at, steps, ahead);
            } else {
                found = trie_.shorter(found.token);
            }
            continue;
        }
        // Nothing fits here after the tokens before: back out of the last one.
        check(out.size() > base, "no encoding found for a stretch of text");
        dead_[at >> 6] |= std::uint64_t{1} << (at & 63);
        const std::uint32_t last = out.back();
        out.pop_back();
        at -= trie_.length(last);
        found = trie_.shorter(last);
    }
}

}  // namespace tessaron::basic
