#include "tokenizer/basic/encode_tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <deque>

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

// Dense numbers for 64-bit ids, in the order first added: open addressing, seeded so that a
// crafted model file cannot pile its ids into one probe chain.
class IdNumbers {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;

    explicit IdNumbers(std::size_t most)
        : slots_(std::bit_ceil(std::max<std::size_t>(16, 2 * most)), Slot{kMarker, kNone}),
          mask_(slots_.size() - 1) {}

    // The id's number, given the next one if it has none yet. `id` is not the marker.
    std::uint32_t add(TokenId id) {
        Slot& slot = find_slot(id);
        if (slot.number == kNone) slot = Slot{id, count_++};
        return slot.number;
    }
    std::uint32_t find(TokenId id) const { return find_slot(id).number; }
    std::uint32_t size() const { return count_; }

private:
    struct Slot {
        TokenId id;
        std::uint32_t number;
    };
    Slot& find_slot(TokenId id) const {
        for (std::size_t i = hash_(id) & mask_;; i = (i + 1) & mask_) {
            Slot& slot = slots_[i];
            if (slot.id == id || slot.number == kNone) return slot;
        }
    }
    mutable std::vector<Slot> slots_;
    std::size_t mask_;
    std::uint32_t count_ = 0;
    SeededHash hash_;
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

    // Made ids above 255 numbered; a part above 255 that no rule makes is never built.
    constexpr std::uint32_t kNone = IdNumbers::kNone;
    IdNumbers made_ids(rules.size());
    for (const Rule& rule : rules) {
        if (rule.made >= 256) made_ids.add(rule.made);
    }
    // Per made id, the rules waiting for it, in one array.
    std::vector<std::uint32_t> start(made_ids.size() + 1, 0);
    std::vector<std::uint8_t> missing(rules.size(), 0);
    auto part_of = [&](TokenId id) { return id < 256 ? kNone : made_ids.find(id); };
    for (const Rule& rule : rules) {
        const std::uint32_t l = part_of(rule.left);
        const std::uint32_t r = rule.right == rule.left ? kNone : part_of(rule.right);
        if (l != kNone) ++start[l + 1];
        if (r != kNone) ++start[r + 1];
    }
    for (std::size_t m = 0; m < made_ids.size(); ++m) start[m + 1] += start[m];
    std::vector<std::uint32_t> waiting(start.back());
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    std::vector<std::uint32_t> fresh;  // made ids now buildable whose waiting rules are not told
    std::vector<std::uint8_t> buildable(made_ids.size(), 0);
    auto complete = [&](std::size_t r) {
        if (rules[r].made < 256) return;
        const std::uint32_t m = made_ids.find(rules[r].made);
        if (!buildable[m]) {
            buildable[m] = 1;
            fresh.push_back(m);
        }
    };
    for (std::size_t k = 0; k < rules.size(); ++k) {
        const Rule& rule = rules[k];
        const bool left_made = rule.left >= 256;
        const bool right_made = rule.right >= 256 && rule.right != rule.left;
        const std::uint32_t l = left_made ? made_ids.find(rule.left) : kNone;
        const std::uint32_t r = right_made ? made_ids.find(rule.right) : kNone;
        if (left_made) ++missing[k];
        if (right_made) ++missing[k];
        // A part no rule makes keeps its count above zero for good.
        if (l != kNone) waiting[fill[l]++] = static_cast<std::uint32_t>(k);
        if (r != kNone) waiting[fill[r]++] = static_cast<std::uint32_t>(k);
        if (missing[k] == 0) complete(k);
    }
    while (!fresh.empty()) {
        const std::uint32_t m = fresh.back();
        fresh.pop_back();
        for (std::uint32_t i = start[m]; i < start[m + 1]; ++i) {
            if (--missing[waiting[i]] == 0) complete(waiting[i]);
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

// Trained and loaded-as-written models: rule k makes 256 + k from lower ids. Every such rule
// can apply and the insertion order is the rank order, so the general sorting is not needed.
bool numbered_in_order(const OrderedMap<TokenPair, TokenId>& merges) {
    for (std::size_t i = 0; i < merges.size(); ++i) {
        const auto& [pair, made] = merges.entries()[i];
        if (made != 256 + i || pair.left >= made || pair.right >= made) return false;
    }
    return true;
}

std::vector<Rule> in_rank_order(const OrderedMap<TokenPair, TokenId>& merges, bool numbered) {
    if (numbered) {
        std::vector<Rule> rules(merges.size());
        for (std::size_t i = 0; i < merges.size(); ++i) {
            const auto& [pair, made] = merges.entries()[i];
            rules[i] = Rule{pair.left, pair.right, made, i};
        }
        return rules;
    }
    std::vector<Rule> rules = live_rules(merges);
    std::sort(rules.begin(), rules.end(), [](const Rule& a, const Rule& b) {
        return a.made != b.made ? a.made < b.made : a.position < b.position;
    });
    return rules;
}

}  // namespace

// In an ordered model each token spells one string, so it has one first and one last byte,
// found in one pass since parts come before the tokens they make.
void EncodeTables::mark_inside_pairs_ordered(const std::vector<std::uint32_t>& left,
                                             const std::vector<std::uint32_t>& right) {
    const std::size_t tokens = token_id_.size();
    std::vector<unsigned char> first(tokens);
    std::vector<unsigned char> last(tokens);
    for (unsigned b = 0; b < 256; ++b) first[b] = last[b] = static_cast<unsigned char>(b);
    for (std::size_t r = 0; r < left.size(); ++r) {
        first[256 + r] = first[left[r]];
        last[256 + r] = last[right[r]];
        const unsigned bit = (unsigned{last[left[r]]} << 8) | first[right[r]];
        inside_pairs_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    }
}

// Otherwise a token can spell several strings: the sets of first and last bytes grow to a
// fixed point (cyclic rules can widen a token's sets after its first visit).
void EncodeTables::mark_inside_pairs(const std::vector<std::uint32_t>& left,
                                     const std::vector<std::uint32_t>& right) {
    const std::size_t tokens = token_id_.size();
    std::vector<ByteSet> first(tokens, ByteSet{});
    std::vector<ByteSet> last(tokens, ByteSet{});
    std::vector<std::vector<std::uint32_t>> users(tokens);
    for (std::uint32_t r = 0; r < left.size(); ++r) {
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
    for (std::size_t r = 0; r < left.size(); ++r) {
        const ByteSet& ends = last[left[r]];
        const ByteSet& starts = first[right[r]];
        for (unsigned w = 0; w < 4; ++w) {
            for (std::uint64_t bits = ends[w]; bits != 0; bits &= bits - 1) {
                const unsigned a = w * 64 + static_cast<unsigned>(std::countr_zero(bits));
                for (unsigned v = 0; v < 4; ++v) inside_pairs_[a * 4 + v] |= starts[v];
            }
        }
    }
}

void EncodeTables::rebuild(const OrderedMap<TokenPair, TokenId>& merges) {
    const bool numbered = numbered_in_order(merges);
    const std::vector<Rule> rules = in_rank_order(merges, numbered);
    check(rules.size() < 0xFFFFFF00u, "too many merge rules to encode with");

    ordered_ = true;
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const Rule& rule = rules[r];
        if (rule.made < 256 || rule.made <= rule.left || rule.made <= rule.right ||
            (r > 0 && rules[r - 1].made == rule.made)) {
            ordered_ = false;
        }
    }

    // Dense token numbers, given in rank order; in a model numbered in order they are the ids.
    token_id_.resize(256);
    for (TokenId b = 0; b < 256; ++b) token_id_[b] = b;
    rule_token_.resize(rules.size());
    std::vector<std::uint32_t> left(rules.size());
    std::vector<std::uint32_t> right(rules.size());
    if (numbered) {
        token_id_.resize(256 + rules.size());
        for (std::size_t r = 0; r < rules.size(); ++r) {
            token_id_[256 + r] = 256 + r;
            rule_token_[r] = static_cast<std::uint32_t>(256 + r);
            left[r] = static_cast<std::uint32_t>(rules[r].left);
            right[r] = static_cast<std::uint32_t>(rules[r].right);
        }
    } else {
        IdNumbers numbers(rules.size());
        auto token_of = [&](TokenId id) -> std::uint32_t {
            if (id < 256) return static_cast<std::uint32_t>(id);
            const std::uint32_t number = numbers.add(id);
            if (number + 256 == token_id_.size()) token_id_.push_back(id);
            return number + 256;
        };
        for (std::size_t r = 0; r < rules.size(); ++r) rule_token_[r] = token_of(rules[r].made);
        // Every part is a byte or made by a live rule, so it has its number already.
        for (std::size_t r = 0; r < rules.size(); ++r) {
            left[r] = token_of(rules[r].left);
            right[r] = token_of(rules[r].right);
        }
    }
    check(!ordered_ || token_id_.size() == 256 + rules.size(), "ordered rules number their tokens");

    ranks_.build(left, right);

    // A byte pair lies inside a token exactly when some rule puts a possible last byte of its
    // left part before a possible first byte of its right.
    std::fill(inside_pairs_.begin(), inside_pairs_.end(), 0);
    if (ordered_) {
        mark_inside_pairs_ordered(left, right);
    } else {
        mark_inside_pairs(left, right);
    }
    search_ = std::make_unique<Search>();
    if (ordered_) {
        search_->left = std::move(left);
        search_->right = std::move(right);
    }
}

const EncodeTables::Search& EncodeTables::search() const {
    Search& search = *search_;
    std::call_once(search.made, [&] {
        // From the start again if an earlier try ran out of memory half way.
        search.seams.clear();
        search.trie = TokenTrie();
        if (!search.left.empty()) {
            search.seams.build(search.left, search.right);
            search.trie.build(ranks_, search.seams, search.left, search.right);
            if (search.trie.empty()) {
                search.seams.clear();
            } else {
                search.seams.build_joins(search.left, search.right);
            }
        }
        std::vector<std::uint32_t>().swap(search.left);
        std::vector<std::uint32_t>().swap(search.right);
    });
    return search;
}

}  // namespace tessaron::basic
