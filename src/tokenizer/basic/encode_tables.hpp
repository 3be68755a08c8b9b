// The encoder's view of a model's rules, built once per rule change.
//
// Rules are ranked by (new id, insertion position), so the lowest rank is the rule that
// applies first and equal new ids get a fixed order. Tokens are renumbered densely in 32 bits:
// bytes keep their values and each other id gets the next number the first time a rule (in
// rank order) produces it. A rule whose part can never be produced from bytes, or that names
// the id 2**64 - 1, can never apply and is left out. Ordered models also get a trie of the
// tokens that can appear in an encoding and a test of which can stand side by side, for the
// left-to-right search, made when the search is first asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "tokenizer/basic/rule_ranks.hpp"
#include "tokenizer/basic/token_seams.hpp"
#include "tokenizer/basic/token_trie.hpp"
#include "support/ordered_map.hpp"
#include "support/types.hpp"

namespace tessaron::basic {

class EncodeTables {
public:
    static constexpr std::uint32_t kNoRank = RuleRanks::kNoRank;

    void rebuild(const OrderedMap<TokenPair, TokenId>& merges);

    bool has_rules() const { return !rule_token_.empty(); }

    // Every rule's new id is at least 256, above both ids of its pair and unlike any other
    // rule's. Then applying the lowest-ranked pair one occurrence at a time, leftmost first,
    // gives the same result as applying it everywhere at once, and the token made by rank r is
    // 256 + r.
    bool ordered() const { return ordered_; }

    // False when no token can ever span the two neighbouring bytes: the text can be cut there
    // and both sides encoded on their own.
    bool joins(unsigned char left, unsigned char right) const {
        const unsigned bit = (unsigned{left} << 8) | right;
        return (inside_pairs_[bit >> 6] >> (bit & 63)) & 1;
    }

    std::uint32_t byte_rank(unsigned char left, unsigned char right) const {
        return ranks_.byte_rank(left, right);
    }
    // kNoRank when no rule joins the two tokens.
    std::uint32_t rank(std::uint32_t left, std::uint32_t right) const {
        return ranks_.rank(left, right);
    }
    std::uint32_t rank_filtered(std::uint32_t left, std::uint32_t right) const {
        return ranks_.rank_filtered(left, right);
    }
    [[gnu::always_inline]] void prefetch_rank(std::uint32_t left, std::uint32_t right) const {
        ranks_.prefetch(left, right);
    }
    const RuleRanks& ranks() const { return ranks_; }

    // Empty unless the model is ordered and its tokens are of modest length. Made at the first
    // call, by one thread while any others wait: a model that only ever encodes piece by piece
    // never needs it, and making it took a fifth of building `cl100k_base` from its ranks and
    // held over a quarter of that model's memory.
    const TokenTrie& trie() const { return search().trie; }
    // Whether tokens stay apart side by side; ready when the trie is.
    const TokenSeams& seams() const { return search().seams; }

    std::uint32_t token_of_rank(std::uint32_t rank) const { return rule_token_[rank]; }
    std::span<const TokenId> token_ids() const { return token_id_; }

private:
    // The search's tables, and until they are made the rules' parts (dense numbers, in rank
    // order) they are made from.
    struct Search {
        std::once_flag made;
        std::vector<std::uint32_t> left;
        std::vector<std::uint32_t> right;
        TokenSeams seams;
        TokenTrie trie;
    };

    const Search& search() const;
    void mark_inside_pairs_ordered(const std::vector<std::uint32_t>& left,
                                   const std::vector<std::uint32_t>& right);
    void mark_inside_pairs(const std::vector<std::uint32_t>& left,
                           const std::vector<std::uint32_t>& right);

    bool ordered_ = true;
    std::vector<std::uint64_t> inside_pairs_ = std::vector<std::uint64_t>(1024);  // 256 x 256 bits
    RuleRanks ranks_;
    std::vector<std::uint32_t> rule_token_;  // per rank: the token it makes
    std::vector<TokenId> token_id_;  // per token: its id in the model
    std::unique_ptr<Search> search_ = std::make_unique<Search>();
};

}  // namespace tessaron::basic
