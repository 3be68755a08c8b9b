#include "tokenizer/basic/encode_tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <deque>
#include <unordered_map>
#include <unordered_set>

#include "support/internal_failure.hpp"
#include "support/seeded_hash.hpp"

namespace tessaron::basic {

namespace {

constexpr TokenId kMarker = ~TokenId{0};

struct Rule {
    TokenId left;
    TokenId right;
    TokenId made;
    std::size_t position;  // in insertion order
};

// The rules that can ever apply: none of their ids is the marker, and both parts can be built
// from bytes by such rules (found by counting, per rule, the parts still unbuilt).
std::vector<Rule> live_rules(const OrderedMap<TokenPair, TokenId>& merges) {
    std::vector<Rule> rules;
    rules.reserve(merges.size());
    for (std::size_t i = 0; i < merges.size(); ++i) {
        const auto& [pair, made] = merges.entries()[i];
        if (pair.left == kMarker || pair.right == kMarker || made == kMarker) continue;
        rules.push_back({pair.left, pair.right, made, i});
    }

    std::unordered_map<TokenId, std::vector<std::uint32_t>, SeededHash> waiting;  // id -> rules
    std::vector<std::uint8_t> missing(rules.size(), 0);
    std::unordered_set<TokenId, SeededHash> buildable;
    std::vector<TokenId> fresh;  // buildable ids above 255 whose waiting rules are not yet told
    auto complete = [&](std::uint32_t r) {
        if (rules[r].made >= 256 && buildable.insert(rules[r].made).second) {
            fresh.push_back(rules[r].made);
        }
    };
    for (std::uint32_t r = 0; r < rules.size(); ++r) {
        const TokenId l = rules[r].left;
        const TokenId rt = rules[r].right;
        if (l >= 256) waiting[l].push_back(r), ++missing[r];
        if (rt >= 256 && rt != l) waiting[rt].push_back(r), ++missing[r];
        if (missing[r] == 0) complete(r);
    }
    while (!fresh.empty()) {
        const TokenId id = fresh.back();
        fresh.pop_back();
        auto it = waiting.find(id);
        if (it == waiting.end()) continue;
        for (std::uint32_t r : it->second) {
            if (--missing[r] == 0) complete(r);
        }
    }
    std::vector<Rule> live;
    live.reserve(rules.size());
    for (std::size_t r = 0; r < rules.size(); ++r) {
        if (missing[r] == 0) live.push_back(rules[r]);
    }
    return live;
}

using ByteSet = std::array<std::uint64_t, 4>;

bool merge_into(ByteSet& into, const ByteSet& from) {
    bool changed = false;
    for (int w = 0; w < 4; ++w) {
        const std::uint64_t next = into[w] | from[w];
        changed |= next != into[w];
        into[w] = next;
    }
    return changed;
}

}  // namespace

void EncodeTables::rebuild(const OrderedMap<TokenPair, TokenId>& merges) {
    std::vector<Rule> rules = live_rules(merges);
    check(rules.size() < 0xFFFFFF00u, "too many merge rules to encode with");
    std::sort(rules.begin(), rules.end(), [](const Rule& a, const Rule& b) {
        return a.made != b.made ? a.made < b.made : a.position < b.position;
    });

    ordered_ = true;
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const Rule& rule = rules[r];
        if (rule.made < 256 || rule.made <= rule.left || rule.made <= rule.right ||
            (r > 0 && rules[r - 1].made == rule.made)) {
            ordered_ = false;
        }
    }

    // Dense token numbers, given in rank order.
    token_id_.clear();
    for (TokenId b = 0; b < 256; ++b) token_id_.push_back(b);
    std::unordered_map<TokenId, std::uint32_t, SeededHash> token_of_id;
    auto token_of = [&](TokenId id) -> std::uint32_t {
        if (id < 256) return static_cast<std::uint32_t>(id);
        auto [it, fresh] =
            token_of_id.try_emplace(id, static_cast<std::uint32_t>(token_id_.size()));
        if (fresh) token_id_.push_back(id);
        return it->second;
    };
    rule_token_.resize(rules.size());
    for (std::size_t r = 0; r < rules.size(); ++r) rule_token_[r] = token_of(rules[r].made);
    // Every part is a byte or made by a live rule, so it has its number already.
    std::vector<std::uint32_t> left(rules.size());
    std::vector<std::uint32_t> right(rules.size());
    for (std::size_t r = 0; r < rules.size(); ++r) {
        left[r] = token_of(rules[r].left);
        right[r] = token_of(rules[r].right);
    }
    check(!ordered_ || token_id_.size() == 256 + rules.size(), "ordered rules number their tokens");

    ranks_.build(left, right);

    // Which bytes can begin and end each token, to a fixed point (cyclic rules can widen a
    // token's sets after its first visit). A byte pair lies inside a token exactly when some
    // rule puts a possible last byte of its left part before a possible first byte of its right.
    const std::size_t tokens = token_id_.size();
    std::vector<ByteSet> first(tokens, ByteSet{});
    std::vector<ByteSet> last(tokens, ByteSet{});
    std::vector<std::vector<std::uint32_t>> users(tokens);
    for (std::uint32_t r = 0; r < rules.size(); ++r) {
        users[left[r]].push_back(r);
        if (right[r] != left[r]) users[right[r]].push_back(r);
    }
    std::deque<std::uint32_t> queue;
    std::vector<std::uint8_t> queued(tokens, 0);
    for (std::uint32_t b = 0; b < 256; ++b) {
        first[b][b >> 6] = last[b][b >> 6] = std::uint64_t{1} << (b & 63);
        queue.push_back(b);
        queued[b] = 1;
    }
    while (!queue.empty()) {
        const std::uint32_t t = queue.front();
        queue.pop_front();
        queued[t] = 0;
        for (std::uint32_t r : users[t]) {
            const std::uint32_t made = rule_token_[r];
            const bool grew_first = merge_into(first[made], first[left[r]]);
            const bool grew_last = merge_into(last[made], last[right[r]]);
            if ((grew_first || grew_last) && !queued[made]) {
                queued[made] = 1;
                queue.push_back(made);
            }
        }
    }
    std::fill(inside_pairs_.begin(), inside_pairs_.end(), 0);
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const ByteSet& ends = last[left[r]];
        const ByteSet& starts = first[right[r]];
        for (unsigned w = 0; w < 4; ++w) {
            for (std::uint64_t bits = ends[w]; bits != 0; bits &= bits - 1) {
                const unsigned a = w * 64 + static_cast<unsigned>(std::countr_zero(bits));
                for (unsigned v = 0; v < 4; ++v) inside_pairs_[a * 4 + v] |= starts[v];
            }
        }
    }
    seams_.clear();
    trie_ = TokenTrie();
    if (ordered_) {
        seams_.build(left, right);
        trie_.build(ranks_, seams_, left, right);
    }
    if (trie_.empty()) {
        seams_.clear();
    } else {
        seams_.build_joins(left, right);
    }
}

}  // namespace tessaron::basic
