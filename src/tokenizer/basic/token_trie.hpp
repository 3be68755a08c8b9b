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
    // the trie steps taken to `steps`. `ahead(token)` is told each node's answer as the walk
    // passes it, so that what the caller will read of the final one is on its way early.
    template <class Ahead>
    Found longest_at(const unsigned char* text, std::size_t n, std::size_t& steps,
                     Ahead&& ahead) const {
        // The root's children are the bytes, in cells 1 to 256.
        std::uint32_t cell = 1u + text[0];
        const std::size_t limit = n < longest_ ? n : longest_;
        std::size_t i = 1;
        for (; i < limit; ++i) {
            const std::uint32_t next = cells_[cell].base + text[i];
            if (cells_[next].parent != cell) break;
            cell = next;
            ahead(cells_[cell].best & kTokenMask);
        }
        steps += i;
        // The answer shares its cell with the node the walk stopped at, already loaded.
        const std::uint32_t best = cells_[cell].best;
        const std::uint32_t token = best & kTokenMask;
        const std::uint32_t length = best >> kTokenBits;
        return {token, length != 0 ? length : length_[token]};
    }
    // The longest self-encoding token spelling a proper prefix of `token`'s bytes.
    Found shorter(std::uint32_t token) const { return shorter_[token]; }
    std::uint32_t length(std::uint32_t token) const { return length_[token]; }
    // The length of the longest self-encoding token.
    std::size_t longest() const { return longest_; }

private:
    void clear();

    // Tokens are numbered below 2**25, so one 32-bit word holds a token and, when short, its
    // length.
    static constexpr unsigned kTokenBits = 25;
    static constexpr std::uint32_t kTokenMask = (std::uint32_t{1} << kTokenBits) - 1;
    static constexpr std::uint32_t kShortest = std::uint32_t{1} << (32 - kTokenBits);

    std::vector<std::uint32_t> length_;  // per token
    std::vector<Found> shorter_;  // per token
    // A double array: the child of a node by `byte` is the cell base + byte, if that cell
    // names the node as its parent. A step is one read, which also brings the answer for when
    // the walk stops there: the longest self-encoding token spelling a prefix of the node,
    // with its length in the high bits when below kShortest (0 otherwise).
    struct Cell {
        std::uint32_t parent;  // kNone for the root and for free cells
        std::uint32_t base;
        std::uint32_t best;
    };
    std::vector<Cell> cells_;  // the root is cell 0, its children cells 1 to 256
    std::size_t longest_ = 1;
};

}  // namespace tessaron::basic
