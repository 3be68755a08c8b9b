// Encodes text under ordered rules left to right, token by token, without simulating merges.
//
// Under ordered rules a sequence of two or more tokens is the encoding of its bytes exactly
// when every two neighbouring tokens x y "join": the bytes of x followed by those of y encode
// to x, y. (The merges inside any stretch that no token crosses are those the stretch would
// undergo alone, in the same order, since the lowest pair of the whole text is the lowest of
// every stretch it lies in; the first merge across a boundary would therefore also happen in
// the two tokens at that boundary taken alone.) It follows that the encoding of a prefix ends
// in a token whose removal leaves the encoding of the shorter prefix, so the search below,
// which tries the longest self-encoding token first and backs off to shorter ones, reaches
// every position in one state only; a position it had to back out of is never a boundary.
// The search needs no cut points, so it runs over the whole text in one pass.
#pragma once

#include <cstdint>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"

namespace tessaron::basic {

class BacktrackEncoder {
public:
    // `tables` must be ordered with a trie.
    explicit BacktrackEncoder(const EncodeTables& tables);

    // Appends the tokens of bytes[0..n) to `out`, n >= 2. Ordinary text takes a few steps a
    // byte, but a crafted model can make the search walk long tokens at every position: past
    // a budget of steps per byte reached it stops, leaves `out` as it was and returns false.
    bool encode(const unsigned char* bytes, std::uint32_t n, std::vector<std::uint32_t>& out);

private:
    const EncodeTables& tables_;
    const TokenTrie& trie_;
    const TokenSeams& seams_;
    // A bit per position the search backed out of; short texts, the common case in batches
    // of lines, keep theirs in the object rather than on the heap.
    std::uint64_t* dead_ = nullptr;
    std::uint64_t short_dead_[64];
    std::vector<std::uint64_t> long_dead_;
};

}  // namespace tessaron::basic
