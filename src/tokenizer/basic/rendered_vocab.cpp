#include "tokenizer/basic/rendered_vocab.hpp"

#include "tokenizer/render_token.hpp"

namespace tessaron::basic {

void RenderedVocab::rebuild(const Vocab& vocab) {
    // Ids below this bound go into a flat table; a model file may use ids up to 2**64 - 1.
    const TokenId dense_limit = 4 * static_cast<TokenId>(vocab.size()) + 1024;
    TokenId dense_size = 0;
    std::size_t total = 0;
    for (const auto& [id, bytes] : vocab) {
        if (id < dense_limit && id + 1 > dense_size) {
            dense_size = id + 1;
        }
        total += bytes.size();
    }
    text_.clear();
    text_.reserve(total + total / 4 + 16);
    dense_.assign(dense_size, Span{0, kAbsent});
    sparse_.clear();
    for (const auto& [id, bytes] : vocab) {
        const std::size_t start = text_.size();
        render_token(bytes, text_);
        const Span span{start, text_.size() - start};
        if (id < dense_size) {
            dense_[id] = span;
        } else {
            sparse_.emplace(id, span);
        }
    }
}

}  // namespace tessaron::basic
