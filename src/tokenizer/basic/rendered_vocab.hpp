// Display text of every vocabulary entry, rendered once per model change so that
// decoding is a table lookup and a copy per id.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tokenizer/basic/vocab.hpp"
#include "support/seeded_hash.hpp"

namespace tessaron::basic {

class RenderedVocab {
public:
    void rebuild(const Vocab& vocab);

    // Empty when the id has no vocabulary entry.
    std::optional<std::string_view> find(TokenId id) const {
        if (id < dense_.size()) {
            const Span& span = dense_[id];
            if (span.length == kAbsent) return std::nullopt;
            return std::string_view(text_.data() + span.offset, span.length);
        }
        auto it = sparse_.find(id);
        if (it == sparse_.end()) return std::nullopt;
        return std::string_view(text_.data() + it->second.offset, it->second.length);
    }

private:
    // Offsets rather than views, so the table survives being moved.
    struct Span {
        std::uint64_t offset;
        std::uint64_t length;
    };
    static constexpr std::uint64_t kAbsent = ~std::uint64_t{0};

    std::string text_;         // every rendering, back to back
    std::vector<Span> dense_;  // ids below a bound
    std::unordered_map<TokenId, Span, SeededHash> sparse_;
};

}  // namespace tessaron::basic
