// Merge rules from a rank table (tiktoken's form of a BPE model: every token's bytes with a
// rank, lower ranks merging first). A token's rule is what is left of its bytes merged by
// the tokens of lower rank, lowest rank first and leftmost among equals, when exactly two
// parts are left. Rule-ordered merging with these rules then gives each token's bytes as
// that one token.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/types.hpp"

namespace tessaron::pretok {

struct RankedToken {
    std::string bytes;
    std::uint64_t rank;
};

struct [[nodiscard]] RulesFromRanks {
    // Rule i joins two of our ids into 256 + i, in rank order; ids 0..255 are the bytes.
    std::vector<TokenPair> rules;
    // Per id of ours: the rank it stands for.
    std::vector<TokenId> rank_of_id;
    std::string error;  // empty when every token has a rule
};

// Every single byte must have a rank, and every longer token a rule: tiktoken would reach
// a token without one only by looking up a whole piece, which these models do not do.
RulesFromRanks rules_from_ranks(std::span<const RankedToken> tokens);

}  // namespace tessaron::pretok
