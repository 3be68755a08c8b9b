#include "tokenizer/basic/token_trie.hpp"

#include <algorithm>
#include <bit>
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
    longest_ = 1;
}

void TokenTrie::build(const RuleRanks& ranks, const TokenSeams& seams,
                      const std::vector<std::uint32_t>& left,
                      const std::vector<std::uint32_t>& right) {
    clear();
    const std::size_t tokens = 256 + left.size();
    // Token numbers share a word with a length below (never reached: the spelled bytes run
    // out first).
    if (tokens > kTokenMask) return;

    // Doubling rules make tokens exponentially long; such models go without a trie.
    constexpr std::uint64_t kLongest = 65536;
    constexpr std::uint64_t kTotal = std::uint64_t{64} << 20;
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
    std::size_t added = 0;  // at most the new nodes of the trie below
    for (std::size_t r = 0; r < left.size(); ++r) {
        std::size_t ignored = 0;
        const auto rank = static_cast<std::uint32_t>(r);
        self[256 + r] = self[left[r]] && self[right[r]] &&
                        !seams.crossed(ranks, left[r], right[r], rank, rank, ignored);
        if (self[256 + r]) added += length_[right[r]];
    }
    // A linked trie first. A self-encoding token's left part is one too, so its path
    // continues from the left part's node by the right part's bytes alone.
    // Past some millions of nodes the trie costs more memory than the search saves.
    constexpr std::size_t kMostNodes = std::size_t{1} << 23;
    const std::size_t most = 257 + added;
    if (most > kMostNodes) {
        clear();
        return;
    }
    std::vector<std::uint32_t> first_child(most, kNone);
    std::vector<std::uint32_t> next_sibling(most, kNone);
    std::vector<std::uint32_t> parent(most, 0);
    std::vector<std::uint32_t> token_at(most, kNone);
    std::vector<unsigned char> label(most, 0);
    std::vector<std::uint32_t> node_of(tokens, kNone);
    std::uint32_t nodes = 257;
    for (unsigned b = 256; b-- > 0;) {
        label[b + 1] = static_cast<unsigned char>(b);
        token_at[b + 1] = b;
        node_of[b] = b + 1;
        next_sibling[b + 1] = first_child[0];
        first_child[0] = b + 1;
    }
    // The bytes' nodes have the most children: theirs are found by index, not by a walk.
    std::vector<std::uint32_t> byte_child(256 * 256, kNone);
    for (std::size_t t = 256; t < tokens; ++t) {
        if (!self[t]) continue;
        const std::size_t r = t - 256;
        const std::string_view tail = spelled(right[r]);
        std::uint32_t node = node_of[left[r]];
        for (const char c : tail) {
            const auto byte = static_cast<unsigned char>(c);
            std::uint32_t* slot = node <= 256 ? &byte_child[(node - 1) * 256 + byte] : nullptr;
            std::uint32_t next = slot != nullptr ? *slot : first_child[node];
            if (slot == nullptr) {
                while (next != kNone && label[next] != byte) next = next_sibling[next];
            }
            if (next == kNone) {
                next = nodes++;
                label[next] = byte;
                parent[next] = node;
                next_sibling[next] = first_child[node];
                first_child[node] = next;
                if (slot != nullptr) *slot = next;
            }
            node = next;
        }
        check(token_at[node] == kNone, "two self-encoding tokens share their bytes");
        token_at[node] = static_cast<std::uint32_t>(t);
        node_of[t] = node;
        longest_ = std::max<std::size_t>(longest_, length_[t]);
    }

    // Then a double array: a node's children take the first free cells that fit, and nodes
    // are placed in the order that tokens in rank order first need them. Early rules join the
    // commonest pairs, so the paths most searches take share few cache lines.
    struct Slot {
        std::uint32_t parent;  // kNone for the root and for free cells
        std::uint32_t base;  // where the children's cells start, less their first byte
    };
    constexpr Slot kFree{kNone, 0};
    std::vector<Slot> slots(nodes + nodes / 4 + 512, kFree);
    std::vector<std::uint8_t> used(slots.size(), 0);
    std::vector<std::uint32_t> cell_of(nodes, kNone);
    std::vector<std::uint8_t> placed(nodes, 0);  // the node's children have their cells
    std::size_t first_free = 1;
    std::size_t high_water = 0;  // the last used cell
    std::vector<unsigned char> labels;
    auto place_children = [&](std::uint32_t node) {
        placed[node] = 1;
        labels.clear();
        for (std::uint32_t c = first_child[node]; c != kNone; c = next_sibling[c]) {
            labels.push_back(label[c]);
        }
        if (labels.empty()) return;
        const unsigned lowest = *std::min_element(labels.begin(), labels.end());
        while (used[first_free]) ++first_free;
        // First fit, but wide nodes and long searches go past the last used cell, which keeps
        // the build linear; a trie that spreads too thin is dropped below.
        std::size_t base = first_free > lowest ? first_free - lowest : 1;
        const bool wide = labels.size() > 16;
        for (unsigned tries = 0;; ++tries) {
            if (wide || tries == 64) base = std::max<std::size_t>(high_water + 1, lowest) - lowest;
            if (base + 256 >= slots.size()) {
                slots.resize(slots.size() * 2, kFree);
                used.resize(slots.size(), 0);
            }
            bool fits = true;
            for (const unsigned char byte : labels) {
                if (used[base + byte]) {
                    fits = false;
                    break;
                }
            }
            if (fits) break;
            ++base;
        }
        slots[cell_of[node]].base = static_cast<std::uint32_t>(base);
        for (std::uint32_t c = first_child[node]; c != kNone; c = next_sibling[c]) {
            const std::size_t at = base + label[c];
            used[at] = 1;
            high_water = std::max(high_water, at);
            slots[at].parent = cell_of[node];
            cell_of[c] = static_cast<std::uint32_t>(at);
        }
    };
    cell_of[0] = 0;
    used[0] = 1;
    place_children(0);
    std::vector<std::uint32_t> path;
    for (std::size_t t = 256; t < tokens; ++t) {
        if (!self[t]) continue;
        // The nodes above t not yet opened, top down; those above an opened one are opened.
        path.clear();
        for (std::uint32_t n = parent[node_of[t]]; !placed[n]; n = parent[n]) path.push_back(n);
        for (auto it = path.rbegin(); it != path.rend(); ++it) place_children(*it);
    }
    check(slots[0].base == 1, "the bytes are the first cells after the root");
    // Room for any base + byte past the last used cell.
    std::size_t top_base = 0;
    for (const Slot& slot : slots) top_base = std::max<std::size_t>(top_base, slot.base);
    const std::size_t size = std::max(high_water + 1, top_base + 256);
    if (size > 4 * std::size_t{nodes} + 65536) {
        clear();
        return;
    }

    // Parents were made before their children.
    constexpr Found kNothing{kNone, 0};
    std::vector<Found> best(nodes, kNothing);
    cells_.assign(size, Cell{kNone, 0, kNone});
    for (std::uint32_t n = 0; n < nodes; ++n) {
        if (n != 0) {
            best[n] =
                token_at[n] != kNone ? Found{token_at[n], length_[token_at[n]]} : best[parent[n]];
        }
        const std::uint32_t short_length = best[n].length < kShortest ? best[n].length : 0;
        const Slot& slot = slots[cell_of[n]];
        cells_[cell_of[n]] = Cell{slot.parent, slot.base,
                                  (best[n].token & kTokenMask) | (short_length << kTokenBits)};
    }
    shorter_.assign(tokens, kNothing);
    for (std::size_t t = 256; t < tokens; ++t) {
        if (self[t]) shorter_[t] = best[parent[node_of[t]]];
    }
}

}  // namespace tessaron::basic
