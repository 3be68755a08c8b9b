// Models as rank tables both ways: the parts of a model made from a table's derived rules, and
// the table of a model, which holds only when deriving rules from it gives the model's rules
// back (ranks merge whatever joins into a token of lower rank, not just a rule's two parts).
#pragma once

#include <string>
#include <vector>

#include "tokenizer/foreign_model.hpp"
#include "tokenizer/pretok/rules_from_ranks.hpp"

namespace tessaron::pretok {

// The derived rules (without error) in the table's own ids, its ranks.
ForeignParts parts_from_ranks(const RulesFromRanks& derived);

struct [[nodiscard]] RankTable {
    std::vector<RankedToken> tokens;  // by rank
    std::string error;
};

// The bytes and rule tokens of an exported model ranked by their ids; special tokens are no
// part of a rank table.
RankTable rank_table_of(const ForeignExport& model);

}  // namespace tessaron::pretok
