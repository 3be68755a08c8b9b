// The tokens of an ordered model that can appear in an encoding, for finding them in text.
//
// Under ordered rules a token appears in the encoding of some text only if its own bytes
// encode to it alone ("self-encoding"): the merges inside the stretch a final token covers are
// those the stretch undergoes alone. At most one token per byte string is self-encoding, so
// the trie maps byte strings to tokens.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tessaron::basic {

class EncodeTables;
class TokenSeams;

class TokenTrie {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;

    // Leaves the trie empty when the model is not ordered, its tokens are too long to spell
    // out, or the trie would be too large to pay.
    void build(const EncodeTables& tables, const TokenSeams& seams,
               const std::vector<std::uint32_t>& left, const std::vector<std::uint32_t>& right);
    bool empty() const { return nodes_.empty(); }

    // The longest self-encoding token that begins text[0..n), n >= 1 (a byte at least). Adds
    // the trie steps taken to `steps`.
    std::uint32_t longest_at(const unsigned char* text, std::size_t n,
                             std::size_t& steps) const {
        if (n == 1) return text[0];
        // Two-byte prefixes come from a table: they are where nodes have the most children.
        std::uint32_t node = pair_node_[(unsigned{text[0]} << 8) | text[1]];
        if (node == kNone) return text[0];
        const std::size_t limit = n < longest_ ? n : longest_;
        std::size_t i = 2;
        // Most searches go four bytes deep or more: a table of the nodes four bytes deep,
        // read beside the two-byte one, saves two dependent steps.
        if (limit >= 4) {
            const std::uint32_t word = text[0] | (unsigned{text[1]} << 8) |
                                       (unsigned{text[2]} << 16) | (unsigned{text[3]} << 24);
            const std::uint32_t deep = quad_node(word);
            if (deep != kNone) {
                node = deep;
                i = 4;
            }
        }
        for (; i < limit; ++i) {
            const std::uint32_t next = child(node, text[i]);
            if (next == kNone) break;
            node = next;
        }
        steps += i;
        return nodes_[node].best;
    }
    // The longest self-encoding token spelling a proper prefix of `token`'s bytes.
    std::uint32_t shorter(std::uint32_t token) const { return shorter_[token]; }
    std::uint32_t length(std::uint32_t token) const { return length_[token]; }

private:
    void clear();

    // Children of a node are numbered consecutively, breadth first, so the short prefixes that
    // most look-ups touch lie together; their labels are sorted.
    std::uint32_t child(std::uint32_t node, unsigned char byte) const {
        const Node& here = nodes_[node];
        std::uint32_t lo = here.children & kFirstChildMask;
        std::uint32_t hi = lo + (here.children >> kCountShift);
        std::uint64_t labels = here.labels;
        if (hi - lo > 8) {
            while (hi - lo > 8) {
                const std::uint32_t mid = lo + (hi - lo) / 2;
                if (label_[mid] <= byte) {
                    lo = mid;
                } else {
                    hi = mid;
                }
            }
            std::memcpy(&labels, label_.data() + lo, 8);
        }
        if (hi == lo) return kNone;
        // Up to eight labels at once: the lowest zero byte of labels ^ byte.
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        const std::uint64_t x = labels ^ (kOnes * byte);
        const std::uint64_t in_range = ~std::uint64_t{0} >> (64 - 8 * (hi - lo));
        const std::uint64_t hits = (x - kOnes) & ~x & (kOnes << 7) & in_range;
        return hits ? lo + static_cast<std::uint32_t>(std::countr_zero(hits) >> 3) : kNone;
    }

    std::vector<std::uint32_t> length_;      // per token
    std::vector<std::uint32_t> shorter_;     // per token
    // A node's children: its first child in the low bits, their count (up to 256) above, so
    // that a step reads one node. The trie has at most 2**16 + 1 nodes.
    static constexpr unsigned kCountShift = 23;
    static constexpr std::uint32_t kFirstChildMask = (std::uint32_t{1} << kCountShift) - 1;
    struct Node {
        std::uint32_t children;
        std::uint32_t best;    // the longest self-encoding token spelling a prefix of the node
        std::uint64_t labels;  // of the first eight children, so that a step reads one node
    };
    std::vector<Node> nodes_;
    std::vector<unsigned char> label_;  // per node: the byte leading to it; 8 bytes of padding
    std::vector<std::uint32_t> pair_node_;  // per two-byte prefix: its node, or kNone
    struct Quad {
        std::uint32_t bytes;
        std::uint32_t node;  // kNone when the slot is empty
    };
    std::vector<Quad> quads_;  // the nodes four bytes deep by their bytes, open addressing
    unsigned quad_shift_ = 32;
    std::uint32_t quad_node(std::uint32_t bytes) const {
        const std::size_t mask = quads_.size() - 1;
        for (std::size_t i = (bytes * 0x9E3779B1u) >> quad_shift_;; i = (i + 1) & mask) {
            const Quad& quad = quads_[i];
            if (quad.bytes == bytes || quad.node == kNone) return quad.node;
        }
    }
    std::size_t longest_ = 1;
};

}  // namespace tessaron::basic
