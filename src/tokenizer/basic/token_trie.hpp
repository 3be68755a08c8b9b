// The tokens of an ordered model that can appear in an encoding, for finding them in text.
//
// Under ordered rules a token appears in the encoding of some text only if its own bytes
// encode to it alone ("self-encoding"): the merges inside the stretch a final token covers are
// those the stretch undergoes alone. At most one token per byte string is self-encoding, so
// the trie maps byte strings to tokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaron::basic {

class RuleRanks;
class TokenSeams;

class TokenTrie {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;

    // For an ordered model (see EncodeTables::ordered), with `seams` ready to tell what
    // crosses. Leaves the trie empty when the tokens are too long to spell out or the trie
    // would be too large to pay.
    void build(const RuleRanks& ranks, const TokenSeams& seams,
               const std::vector<std::uint32_t>& left, const std::vector<std::uint32_t>& right);
    bool empty() const { return cells_.empty(); }

    // A token with its length in bytes, read together since every use of one needs the other.
    struct Found {
        std::uint32_t token;  // kNone for none
        std::uint32_t length;
    };

    // The longest self-encoding token that begins text[0..n), n >= 1 (a byte at least). Adds
    // the trie steps taken to `steps`.
    Found longest_at(const unsigned char* text, std::size_t n, std::size_t& steps) const {
        // The root's children are the bytes, in cells 1 to 256.
        std::uint32_t node = 1u + text[0];
        const std::size_t limit = n < longest_ ? n : longest_;
        std::size_t i = 1;
        for (; i < limit; ++i) {
            const std::uint32_t next = child(node, text[i]);
            if (next == kNone) break;
            node = next;
            // The answer is read where the walk stops: asked for at every step, its load
            // overlaps the step that fails instead of following it.
            __builtin_prefetch(&best_[node]);
        }
        steps += i;
        return best_[node];
    }
    // The longest self-encoding token spelling a proper prefix of `token`'s bytes.
    Found shorter(std::uint32_t token) const { return shorter_[token]; }
    std::uint32_t length(std::uint32_t token) const { return length_[token]; }
    // The length of the longest self-encoding token.
    std::size_t longest() const { return longest_; }

private:
    void clear();

    // A double array: the child of `node` by `byte` is the cell base + byte, if that cell
    // names `node` as its parent. A step is one read.
    std::uint32_t child(std::uint32_t node, unsigned char byte) const {
        const std::uint32_t c = cells_[node].base + byte;
        return cells_[c].parent == node ? c : kNone;
    }

    std::vector<std::uint32_t> length_;  // per token
    std::vector<Found> shorter_;  // per token
    struct Cell {
        std::uint32_t parent;  // kNone for the root and for free cells
        std::uint32_t base;  // where the children's cells start, less their first byte
    };
    std::vector<Cell> cells_;  // the root is cell 0; 256 free cells of padding at the end
    // Per cell: the longest self-encoding token spelling a prefix of the node. Apart from the
    // cells, which a walk reads at every step, and this at its end only.
    std::vector<Found> best_;
    std::size_t longest_ = 1;
};

}  // namespace tessaron::basic
