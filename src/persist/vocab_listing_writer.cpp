#include "persist/vocab_listing_writer.hpp"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "persist/whole_file.hpp"
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

}  // namespace

void write_vocab_listing(const basic::Model& model, TextSink& out) {
    const RuleById rules = rules_by_id(model.merges());
    const basic::RenderedVocab& rendered = model.rendered();
    for (std::size_t i = 0; i < rendered.size(); ++i) {
        const auto [id, token] = rendered.entry(i);
        std::optional<std::string_view> left, right;
        if (auto rule = rules.find(id); rule != rules.end()) {
            left = rendered.find(rule->second.left);
            right = rendered.find(rule->second.right);
        }
        out.write("[");
        // A part without an entry (only a crafted model file gives one) gets the plain line.
        if (left && right) {
            out.write(*left);
            out.write("][");
            out.write(*right);
            out.write("] -> [");
        }
        out.write(token);
        out.write("] ");
        out.write_number(id);
        out.write("\n");
    }
}

IoStatus write_vocab_listing(const basic::Model& model, const std::string& path) {
    return write_whole_file(path, [&](TextSink& out) { write_vocab_listing(model, out); });
}

}  // namespace tessaron::persist
