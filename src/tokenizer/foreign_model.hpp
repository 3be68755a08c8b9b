// A model made elsewhere, in its own ids: bytes, rules and special tokens as its source gives
// them, turned into a model of ours with the map between our ids and the source's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tokenizer/basic/model.hpp"
#include "tokenizer/id_map.hpp"
#include "support/types.hpp"

namespace tessaron {

// Ids here are the source's own.
struct ForeignRule {
    TokenId left;
    TokenId right;
    TokenId made;
};

struct ForeignParts {
    std::array<TokenId, 256> byte_ids{};
    std::vector<ForeignRule> rules;  // in the order they apply
    std::vector<std::pair<std::string, TokenId>> special_tokens;
    std::string pattern;
};

struct ForeignModel {
    basic::Model model;
    IdMap ids;
};

struct [[nodiscard]] ForeignBuild {
    std::optional<ForeignModel> built;
    std::string error;  // one line, when nothing was built
};

// Every id must name one token, and each rule may join only bytes and tokens of earlier rules.
ForeignBuild build_foreign_model(const ForeignParts& parts);

// The same parts read back: rules in the order they apply, ids the model's. Fails (with the
// reason) when the model's rules do not apply in one fixed order, which no rank list or merge
// list can express.
struct [[nodiscard]] ForeignExport {
    ForeignParts parts;
    std::vector<std::string> rule_bytes;  // per rule: the bytes of the token it makes
    std::string error;
};
// `ids` null: the model's ids are its own.
ForeignExport export_foreign_model(const basic::Model& model, const IdMap* ids);

}  // namespace tessaron
