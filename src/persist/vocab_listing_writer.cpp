#include "persist/vocab_listing_writer.hpp"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "persist/file_writer.hpp"
#include "support/seeded_hash.hpp"

namespace tessaron::persist {

namespace {

using RuleById = std::unordered_map<TokenId, TokenPair, SeededHash>;

// New id -> the rule that made it; when two rules share an id the later one wins.
RuleById rules_by_id(const basic::MergeMap& merges) {
    RuleById rules;
    rules.reserve(merges.size());
    for (const auto& [pair, id] : merges) {
        rules.insert_or_assign(id, pair);
    }
    return rules;
}

IoStatus write_lines(const basic::RenderedVocab& rendered, const RuleById& rules, FileWriter& out) {
    for (std::size_t i = 0; i < rendered.size(); ++i) {
        const auto [id, token] = rendered.entry(i);
        std::optional<std::string_view> left, right;
        if (auto rule = rules.find(id); rule != rules.end()) {
            left = rendered.find(rule->second.left);
            right = rendered.find(rule->second.right);
        }
        // A part without an entry (only a crafted model file gives one) gets the plain line.
        if (left && right) {
            if (auto e = out.write("[")) return e;
            if (auto e = out.write(*left)) return e;
            if (auto e = out.write("][")) return e;
            if (auto e = out.write(*right)) return e;
            if (auto e = out.write("] -> [")) return e;
        } else {
            if (auto e = out.write("[")) return e;
        }
        if (auto e = out.write(token)) return e;
        if (auto e = out.write("] ")) return e;
        if (auto e = out.write_number(id)) return e;
        if (auto e = out.write("\n")) return e;
    }
    return std::nullopt;
}

}  // namespace

IoStatus write_vocab_listing(const basic::Model& model, const std::string& path) {
    const RuleById rules = rules_by_id(model.merges());
    FileWriter out;
    if (auto e = out.open(path)) return e;
    if (auto e = write_lines(model.rendered(), rules, out)) return e;
    return out.finish();
}

}  // namespace tessaron::persist
