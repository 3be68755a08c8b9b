#include "tokenizer/foreign_model.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "support/seeded_hash.hpp"

namespace tessaron {

namespace {

// Our id for each of the source's ids given so far: an array when the source's ids are about
// as many as its tokens (rank tables and vocabularies number them from 0), else a hash map.
// A rank table of 200,000 tokens spent a tenth of its loading on the map's nodes.
class InnerIds {
public:
    explicit InnerIds(const ForeignParts& parts) {
        const std::size_t count = 256 + parts.rules.size() + parts.special_tokens.size();
        TokenId largest = 0;
        for (const TokenId id : parts.byte_ids) largest = std::max(largest, id);
        for (const ForeignRule& rule : parts.rules) largest = std::max(largest, rule.made);
        for (const auto& entry : parts.special_tokens) largest = std::max(largest, entry.second);
        if (largest < 2 * count + 1024) {
            dense_.assign(largest + 1, kAbsent);
        } else {
            sparse_.reserve(count);
        }
    }

    // False when the id has one already.
    bool add(TokenId id, TokenId inner) {
        if (dense_.empty()) return sparse_.emplace(id, inner).second;
        if (dense_[id] != kAbsent) return false;
        dense_[id] = inner;
        return true;
    }

    std::optional<TokenId> find(TokenId id) const {
        if (dense_.empty()) {
            const auto found = sparse_.find(id);
            return found == sparse_.end() ? std::nullopt : std::optional(found->second);
        }
        return id < dense_.size() && dense_[id] != kAbsent ? std::optional(dense_[id])
                                                           : std::nullopt;
    }

private:
    static constexpr TokenId kAbsent = std::numeric_limits<TokenId>::max();

    std::vector<TokenId> dense_;
    std::unordered_map<TokenId, TokenId, SeededHash> sparse_;
};

}  // namespace

ForeignBuild build_foreign_model(const ForeignParts& parts) {
    ForeignBuild out;
    const std::size_t rules = parts.rules.size();
    std::vector<TokenId> outer;
    outer.reserve(256 + rules + parts.special_tokens.size());
    InnerIds inner_of(parts);
    auto add = [&](TokenId id) {
        if (!inner_of.add(id, outer.size())) {
            out.error = "the id " + std::to_string(id) + " is given to two tokens";
            return false;
        }
        outer.push_back(id);
        return true;
    };
    for (const TokenId id : parts.byte_ids) {
        if (!add(id)) return out;
    }
    basic::MergeMap merges;
    merges.reserve(rules);
    for (std::size_t k = 0; k < rules; ++k) {
        const ForeignRule& rule = parts.rules[k];
        // Parts made by later rules would make the rules apply out of their order.
        const std::optional<TokenId> left = inner_of.find(rule.left);
        const std::optional<TokenId> right = inner_of.find(rule.right);
        if (!left || !right) {
            out.error = "the rule making the id " + std::to_string(rule.made) +
                        " joins a token that no byte or earlier rule makes";
            return out;
        }
        if (!merges.insert({*left, *right}, 256 + k)) {
            out.error = "two rules join the same pair (the second makes the id " +
                        std::to_string(rule.made) + ")";
            return out;
        }
        if (!add(rule.made)) return out;
    }
    basic::SpecialTokenMap specials;
    for (const auto& [text, id] : parts.special_tokens) {
        if (text.empty()) {
            out.error = "a special token is empty";
            return out;
        }
        if (!specials.insert(text, outer.size())) {
            out.error = "a special token is given twice (id " + std::to_string(id) + ")";
            return out;
        }
        if (!add(id)) return out;
    }
    basic::Model model;
    model.replace(std::move(merges), std::move(specials), parts.pattern);
    out.built.emplace(ForeignModel{std::move(model), IdMap(std::move(outer))});
    return out;
}

ForeignExport export_foreign_model(const basic::Model& model, const IdMap* ids) {
    ForeignExport out;
    auto outer = [&](TokenId id) { return ids == nullptr ? id : ids->outer(id); };
    for (unsigned b = 0; b < 256; ++b) out.parts.byte_ids[b] = outer(b);

    // Rules apply by the id they make; each must make an id of its own above both parts'.
    struct Rule {
        TokenId left;
        TokenId right;
        TokenId made;
    };
    std::vector<Rule> rules;
    rules.reserve(model.merges().size());
    for (const auto& [pair, made] : model.merges()) rules.push_back({pair.left, pair.right, made});
    std::sort(rules.begin(), rules.end(),
              [](const Rule& a, const Rule& b) { return a.made < b.made; });
    std::unordered_set<TokenId, SeededHash> made_before;
    for (const Rule& rule : rules) {
        auto known = [&](TokenId id) { return id < 256 || made_before.count(id) != 0; };
        if (rule.made < 256 || rule.made == std::numeric_limits<TokenId>::max() ||
            made_before.count(rule.made) != 0 || !known(rule.left) || !known(rule.right)) {
            out.error = "the rule making the id " + std::to_string(outer(rule.made)) +
                        " does not apply in the order of the ids rules make";
            return out;
        }
        made_before.insert(rule.made);
        const std::string* bytes = model.token_bytes(rule.made);
        if (bytes == nullptr) {
            out.error = "the id " + std::to_string(outer(rule.made)) + " has no bytes";
            return out;
        }
        out.parts.rules.push_back({outer(rule.left), outer(rule.right), outer(rule.made)});
        out.rule_bytes.push_back(*bytes);
    }
    for (const auto& [text, id] : model.special_tokens()) {
        out.parts.special_tokens.emplace_back(text, outer(id));
    }
    out.parts.pattern = model.pattern();
    return out;
}

}  // namespace tessaron
