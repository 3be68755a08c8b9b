#include "tokenizer/basic/token_trie.hpp"

#include <algorithm>
#include <bit>
#include <functional>
#include <queue>
#include <string>
#include <string_view>

#include "tokenizer/basic/rule_ranks.hpp"
#include "tokenizer/basic/token_seams.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::basic {

void TokenTrie::clear() {
    length_.clear();
    shorter_.clear();
    cells_.clear();
    best_.clear();
    longest_ = 1;
}

void TokenTrie::build(const RuleRanks& ranks, const TokenSeams& seams,
                      const std::vector<std::uint32_t>& left,
                      const std::vector<std::uint32_t>& right) {
    clear();

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
                        !seams.crossed(ranks, left[r], right[r], rank, rank, ignored);
        if (self[256 + r]) edges += length_[256 + r] - 1;
    }
    // A linked trie first, then laid out as a double array.
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
    // The search beats merging only while the trie stays near the second-level cache (a 32k
    // model of English has 117k nodes, 8 bytes each in a walk). Larger models are merged.
    constexpr std::size_t kMostNodes = std::size_t{1} << 17;
    if (draft.size() > kMostNodes) {
        clear();
        return;
    }
    // Parents are laid out hottest first, by the lowest rank below them (early rules join the
    // commonest pairs), each with its children in the first free cells that fit, so that the
    // paths most searches take share few cache lines.
    std::vector<std::uint32_t> hottest(draft.size(), kNone);
    for (std::size_t d = draft.size(); d-- > 0;) {
        if (draft[d].token != kNone) hottest[d] = std::min(hottest[d], draft[d].token);
        for (const auto& [label, to] : draft[d].children) {
            hottest[d] = std::min(hottest[d], hottest[to]);
        }
    }
    constexpr Cell kFree{kNone, 0};
    cells_.assign(draft.size() + draft.size() / 4 + 512, kFree);
    best_.assign(cells_.size(), kNone);
    std::vector<std::uint8_t> used(cells_.size(), 0);
    std::vector<std::uint32_t> draft_of(cells_.size(), kNone);  // per cell
    used[0] = 1;
    draft_of[0] = 0;
    std::size_t first_free = 1;
    std::size_t high_water = 0;  // the last used cell
    using Waiting = std::pair<std::uint64_t, std::uint32_t>;  // (heat, cell)
    std::priority_queue<Waiting, std::vector<Waiting>, std::greater<>> waiting;
    waiting.push({0, 0});
    std::uint64_t placed = 0;  // breaks ties in heat by the order of placing
    while (!waiting.empty()) {
        const std::uint32_t cell = waiting.top().second;
        waiting.pop();
        Draft& node = draft[draft_of[cell]];
        if (node.children.empty()) continue;
        std::sort(node.children.begin(), node.children.end());
        const unsigned lowest = node.children.front().first;
        while (used[first_free]) ++first_free;
        // First fit, but wide nodes and long searches go past the last used cell, which keeps
        // the build linear; a trie that spreads too thin is dropped below.
        std::size_t base = first_free > lowest ? first_free - lowest : 1;
        const bool wide = node.children.size() > 16;
        for (unsigned tries = 0;; ++tries) {
            if (wide || tries == 64) base = std::max<std::size_t>(high_water + 1, lowest) - lowest;
            if (base + 256 >= cells_.size()) {
                cells_.resize(cells_.size() * 2, kFree);
                best_.resize(cells_.size(), kNone);
                used.resize(cells_.size(), 0);
                draft_of.resize(cells_.size(), kNone);
            }
            bool fits = true;
            for (const auto& [label, to] : node.children) {
                if (used[base + label]) {
                    fits = false;
                    break;
                }
            }
            if (fits) break;
            ++base;
        }
        cells_[cell].base = static_cast<std::uint32_t>(base);
        for (const auto& [label, to] : node.children) {
            const std::size_t c = base + label;
            used[c] = 1;
            high_water = std::max(high_water, c);
            draft_of[c] = to;
            cells_[c].parent = cell;
            // A node without a token of its own inherits its parent's best.
            best_[c] = draft[to].token != kNone ? draft[to].token : best_[cell];
            waiting.push(
                {(std::uint64_t{hottest[to]} << 32) | placed++, static_cast<std::uint32_t>(c)});
        }
    }
    check(cells_[0].base == 1, "the bytes are the first cells after the root");
    // Room for any base + byte past the last used cell.
    std::size_t top_base = 0;
    for (const Cell& cell : cells_) top_base = std::max<std::size_t>(top_base, cell.base);
    cells_.resize(std::max(high_water + 1, top_base + 256), kFree);
    best_.resize(cells_.size(), kNone);
    if (cells_.size() > 4 * draft.size() + 65536) {
        clear();
        return;
    }
    cells_.shrink_to_fit();
    best_.shrink_to_fit();

    shorter_.assign(tokens, kNone);
    for (std::size_t t = 256; t < tokens; ++t) {
        if (!self[t]) continue;
        const std::string_view text = spelled(t);
        std::uint32_t node = 0;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            node = child(node, static_cast<unsigned char>(text[i]));
        }
        shorter_[t] = best_[node];
    }
}

}  // namespace tessaron::basic
