#include "tokenizer/basic/rendered_vocab.hpp"

#include <algorithm>
#include <utility>

#include "tokenizer/render_token.hpp"

namespace tessaron::basic {

RenderedVocab::RenderedVocab(const Vocab& vocab) {
    std::vector<std::pair<TokenId, const std::string*>> entries;
    entries.reserve(vocab.size());
    // Ids below this bound go into a flat table; a model file may use ids up to 2**64 - 1.
    const TokenId dense_limit = 4 * static_cast<TokenId>(vocab.size()) + 1024;
    TokenId dense_size = 0;
    std::size_t total = 0;
    for (const auto& [id, bytes] : vocab) {
        entries.emplace_back(id, &bytes);
        if (id < dense_limit && id + 1 > dense_size) {
            dense_size = id + 1;
        }
        total += bytes.size();
    }
    std::sort(entries.begin(), entries.end());
    text_.reserve(total + total / 4 + 16);
    ids_.reserve(entries.size());
    ends_.reserve(entries.size());
    dense_.assign(dense_size, Span{0, kAbsent});
    for (const auto& [id, bytes] : entries) {
        const std::size_t start = text_.size();
        render_token(*bytes, text_);
        ids_.push_back(id);
        ends_.push_back(text_.size());
        const Span span{start, text_.size() - start};
        if (id < dense_size) {
            dense_[id] = span;
        } else {
            sparse_.emplace(id, span);
        }
    }
}

}  // namespace tessaron::basic
