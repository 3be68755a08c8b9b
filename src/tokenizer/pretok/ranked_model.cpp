#include "tokenizer/pretok/ranked_model.hpp"

#include <algorithm>
#include <unordered_map>

#include "support/seeded_hash.hpp"

namespace tessaron::pretok {

ForeignParts parts_from_ranks(const RulesFromRanks& derived) {
    ForeignParts parts;
    const std::vector<TokenId>& rank = derived.rank_of_id;
    for (unsigned b = 0; b < 256; ++b) parts.byte_ids[b] = rank[b];
    parts.rules.reserve(derived.rules.size());
    for (std::size_t k = 0; k < derived.rules.size(); ++k) {
        const TokenPair& rule = derived.rules[k];
        parts.rules.push_back({rank[rule.left], rank[rule.right], rank[256 + k]});
    }
    return parts;
}

RankTable rank_table_of(const ForeignExport& model) {
    RankTable table;
    const ForeignParts& parts = model.parts;
    table.tokens.reserve(256 + parts.rules.size());
    for (unsigned b = 0; b < 256; ++b) {
        table.tokens.push_back({std::string(1, static_cast<char>(b)), parts.byte_ids[b]});
    }
    for (std::size_t k = 0; k < parts.rules.size(); ++k) {
        table.tokens.push_back({model.rule_bytes[k], parts.rules[k].made});
    }
    std::sort(table.tokens.begin(), table.tokens.end(),
              [](const RankedToken& a, const RankedToken& b) { return a.rank < b.rank; });

    const RulesFromRanks derived = rules_from_ranks(table.tokens);
    const std::string cannot = "the rules cannot be written as ranks: ";
    if (!derived.error.empty()) {
        table.tokens.clear();
        table.error = cannot + derived.error;
        return table;
    }
    std::unordered_map<TokenId, const ForeignRule*, SeededHash> rule_making;
    for (const ForeignRule& rule : parts.rules) rule_making.emplace(rule.made, &rule);
    for (const ForeignRule& got : parts_from_ranks(derived).rules) {
        const ForeignRule& want = *rule_making.at(got.made);
        if (got.left != want.left || got.right != want.right) {
            table.tokens.clear();
            table.error = cannot + "ranks would make the id " + std::to_string(got.made) +
                          " from the ids " + std::to_string(got.left) + " and " +
                          std::to_string(got.right) + ", where the rule joins " +
                          std::to_string(want.left) + " and " + std::to_string(want.right);
            return table;
        }
    }
    return table;
}

}  // namespace tessaron::pretok
