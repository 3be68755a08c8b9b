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
    RenderedVocab() = default;
    explicit RenderedVocab(const Vocab& vocab);

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

    // The entries by ascending id.
    struct Entry {
        TokenId id;
        std::string_view text;
    };
    std::size_t size() const { return ids_.size(); }
    Entry entry(std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return {ids_[i], std::string_view(text_.data() + begin, ends_[i] - begin)};
    }

private:
    // Offsets rather than views, so the table survives being moved.
    struct Span {
        std::uint64_t offset;
        std::uint64_t length;
    };
    static constexpr std::uint64_t kAbsent = ~std::uint64_t{0};

    std::string text_;                 // every rendering, back to back by ascending id
    std::vector<TokenId> ids_;         // ascending
    std::vector<std::uint64_t> ends_;  // per entry of ids_: where its text ends
    std::vector<Span> dense_;          // ids below a bound
    std::unordered_map<TokenId, Span, SeededHash> sparse_;
};

}  // namespace tessaron::basic
