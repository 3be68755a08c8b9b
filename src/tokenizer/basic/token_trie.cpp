#include "tokenizer/basic/token_trie.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <queue>

#include "tokenizer/basic/encode_tables.hpp"
#include "tokenizer/basic/token_seams.hpp"
#include "tokenizer/internal_failure.hpp"

namespace tessaron::basic {

void TokenTrie::clear() {
    length_.clear();
    shorter_.clear();
    nodes_.clear();
    pair_node_.clear();
    quads_.clear();
    label_.clear();
    longest_ = 1;
}

void TokenTrie::build(const EncodeTables& tables, const TokenSeams& seams,
                      const std::vector<std::uint32_t>& left,
                      const std::vector<std::uint32_t>& right) {
    clear();
    if (!tables.ordered()) return;

    // Doubling rules make tokens exponentially long; such models go without a trie.
    constexpr std::uint64_t kLongest = 4096;
    constexpr std::uint64_t kTotal = std::uint64_t{64} << 20;
    const std::size_t tokens = 256 + left.size();
    std::vector<std::uint64_t> offset(tokens + 1);
    std::uint64_t total = 256;
    {
        std::vector<std::uint64_t> length(tokens, 1);
        for (std::size_t r = 0; r < left.size(); ++r) {
            length[256 + r] = length[left[r]] + length[right[r]];
            if (length[256 + r] > kLongest || (total += length[256 + r]) > kTotal) return;
        }
        for (std::size_t t = 0; t < tokens; ++t) offset[t + 1] = offset[t] + length[t];
    }
    std::string bytes(total, '\0');
    for (unsigned b = 0; b < 256; ++b) bytes[b] = static_cast<char>(b);
    for (std::size_t r = 0; r < left.size(); ++r) {
        // Parts are lower tokens, already spelled.
        char* at = bytes.data() + offset[256 + r];
        const std::uint64_t a = offset[left[r] + 1] - offset[left[r]];
        const std::uint64_t b = offset[right[r] + 1] - offset[right[r]];
        std::copy_n(bytes.data() + offset[left[r]], a, at);
        std::copy_n(bytes.data() + offset[right[r]], b, at + a);
    }
    auto spelled = [&](std::size_t t) {
        return std::string_view(bytes).substr(offset[t], offset[t + 1] - offset[t]);
    };

    length_.resize(tokens);
    for (std::size_t t = 0; t < tokens; ++t) {
        length_[t] = static_cast<std::uint32_t>(offset[t + 1] - offset[t]);
    }
    // A made token is self-encoding when both parts are and nothing crosses between them
    // before its own rule applies; parts come first in rank order.
    std::vector<std::uint8_t> self(tokens, 1);
    std::size_t edges = 0;
    for (std::size_t r = 0; r < left.size(); ++r) {
        std::size_t ignored = 0;
        const auto rank = static_cast<std::uint32_t>(r);
        self[256 + r] = self[left[r]] && self[right[r]] &&
                        !seams.crossed(tables, left[r], right[r], rank, rank, ignored);
        if (self[256 + r]) edges += length_[256 + r] - 1;
    }
    // A linked trie first, then renumbered breadth first into arrays.
    struct Draft {
        std::vector<std::pair<unsigned char, std::uint32_t>> children;
        std::uint32_t token = kNone;
    };
    std::vector<Draft> draft(257);
    draft.reserve(257 + edges);
    for (unsigned b = 0; b < 256; ++b) {
        draft[0].children.emplace_back(static_cast<unsigned char>(b), b + 1);
        draft[b + 1].token = b;
    }
    for (std::size_t t = 256; t < tokens; ++t) {
        if (!self[t]) continue;
        const std::string_view text = spelled(t);
        std::uint32_t node = static_cast<unsigned char>(text[0]) + 1u;
        for (std::size_t i = 1; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            std::uint32_t next = kNone;
            for (const auto& [label, to] : draft[node].children) {
                if (label == byte) next = to;
            }
            if (next == kNone) {
                next = static_cast<std::uint32_t>(draft.size());
                draft[node].children.emplace_back(byte, next);
                draft.emplace_back();
            }
            node = next;
        }
        check(draft[node].token == kNone, "two self-encoding tokens share their bytes");
        draft[node].token = static_cast<std::uint32_t>(t);
        longest_ = std::max<std::size_t>(longest_, text.size());
    }
    // The search beats merging only while the trie stays near the second-level cache: measured
    // on English, a 117k-node trie (32k tokens) encodes about a tenth faster than merging
    // (nodes of 16 bytes, one read a step). Larger models are merged.
    constexpr std::size_t kMostNodes = std::size_t{1} << 17;
    if (draft.size() > kMostNodes) {
        clear();
        return;
    }
    // Nodes are numbered as their parent is laid out, children together. Parents are laid out
    // hottest first, by the lowest rank below them (early rules join the commonest pairs), so
    // that the paths most searches take share few cache lines.
    std::vector<std::uint32_t> hottest(draft.size(), kNone);
    for (std::size_t d = draft.size(); d-- > 0;) {
        if (draft[d].token != kNone) hottest[d] = std::min(hottest[d], draft[d].token);
        for (const auto& [label, to] : draft[d].children) {
            hottest[d] = std::min(hottest[d], hottest[to]);
        }
    }
    std::vector<std::uint32_t> order{0};  // draft nodes by number
    order.reserve(draft.size());
    nodes_.assign(draft.size(), Node{0, kNone, 0});
    label_.assign(draft.size() + 8, 0);
    using Waiting = std::pair<std::uint64_t, std::uint32_t>;  // (hotness, number)
    std::priority_queue<Waiting, std::vector<Waiting>, std::greater<>> waiting;
    waiting.push({0, 0});
    while (!waiting.empty()) {
        const std::uint32_t i = waiting.top().second;
        waiting.pop();
        Draft& node = draft[order[i]];
        const auto first = static_cast<std::uint32_t>(order.size());
        const auto count = static_cast<std::uint32_t>(node.children.size());
        nodes_[i] = Node{first | (count << kCountShift), node.token, 0};
        std::sort(node.children.begin(), node.children.end());
        for (const auto& [label, to] : node.children) {
            label_[order.size()] = label;
            waiting.push({(std::uint64_t{hottest[to]} << 32) | order.size(),
                          static_cast<std::uint32_t>(order.size())});
            order.push_back(to);
        }
        std::memcpy(&nodes_[i].labels, label_.data() + first, 8);
    }
    // Parents come before their children: hand each node the best token of its parent when it
    // spells none itself, and note the nodes four bytes deep with their bytes.
    std::vector<std::uint32_t> word(nodes_.size(), 0);
    std::vector<std::uint8_t> depth(nodes_.size(), 0);
    std::size_t quads = 0;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const std::uint32_t begin = nodes_[i].children & kFirstChildMask;
        for (std::uint32_t c = begin; c < begin + (nodes_[i].children >> kCountShift); ++c) {
            if (nodes_[c].best == kNone) nodes_[c].best = nodes_[i].best;
            depth[c] = static_cast<std::uint8_t>(std::min(depth[i] + 1, 5));
            if (depth[c] <= 4) word[c] = word[i] | (std::uint32_t{label_[c]} << (8 * depth[i]));
            quads += depth[c] == 4;
        }
    }
    quads_.assign(std::bit_ceil(2 * quads + 2), Quad{0, kNone});
    quad_shift_ = 32 - static_cast<unsigned>(std::countr_zero(quads_.size()));
    for (std::size_t c = 0; c < nodes_.size(); ++c) {
        if (depth[c] != 4) continue;
        std::size_t at = (word[c] * 0x9E3779B1u) >> quad_shift_;
        while (quads_[at].node != kNone) at = (at + 1) & (quads_.size() - 1);
        quads_[at] = Quad{word[c], static_cast<std::uint32_t>(c)};
    }
    pair_node_.assign(65536, kNone);
    for (std::uint32_t first = 1; first <= 256; ++first) {
        const std::uint32_t children = nodes_[first].children;
        const std::uint32_t begin = children & kFirstChildMask;
        for (std::uint32_t c = begin; c < begin + (children >> kCountShift); ++c) {
            pair_node_[((first - 1) << 8) | label_[c]] = c;
        }
    }
    shorter_.assign(tokens, kNone);
    for (std::size_t t = 256; t < tokens; ++t) {
        if (!self[t]) continue;
        const std::string_view text = spelled(t);
        std::uint32_t node = static_cast<unsigned char>(text[0]) + 1u;
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
            node = child(node, static_cast<unsigned char>(text[i]));
        }
        shorter_[t] = nodes_[node].best;
    }
}

}  // namespace tessaron::basic
