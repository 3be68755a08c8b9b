#include "tokenizer/basic/rendered_vocab.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tokenizer/render_token.hpp"

namespace tessaron::basic {

RenderedVocab::RenderedVocab(const Vocab& vocab) {
    // Ids below this bound go into a flat table, which also puts them in order without a sort;
    // a model file may use ids up to 2**64 - 1.
    const TokenId dense_limit = 4 * static_cast<TokenId>(vocab.size()) + 1024;
    TokenId dense_size = 0;
    std::size_t total = 0;
    std::vector<std::pair<TokenId, const std::string*>> sparse_entries;
    for (const auto& [id, bytes] : vocab) {
        if (id < dense_limit) {
            dense_size = std::max(dense_size, id + 1);
        } else {
            sparse_entries.emplace_back(id, &bytes);
        }
        total += bytes.size();
    }
    std::vector<const std::string*> by_id(dense_size, nullptr);
    for (const auto& [id, bytes] : vocab) {
        if (id < dense_size) by_id[id] = &bytes;
    }
    std::sort(sparse_entries.begin(), sparse_entries.end());
    text_.reserve(total + total / 4 + 16);
    ids_.reserve(vocab.size());
    ends_.reserve(vocab.size());
    dense_.assign(dense_size, Span{0, kAbsent});
    auto add = [&](TokenId id, const std::string& bytes) {
        const std::size_t start = text_.size();
        render_token(bytes, text_);
        ids_.push_back(id);
        ends_.push_back(text_.size());
        const Span span{start, text_.size() - start};
        if (id < dense_size) {
            dense_[id] = span;
        } else {
            sparse_.emplace(id, span);
        }
    };
    for (TokenId id = 0; id < dense_size; ++id) {
        if (by_id[id] != nullptr) add(id, *by_id[id]);
    }
    for (const auto& [id, bytes] : sparse_entries) add(id, *bytes);
}

}  // namespace tessaron::basic
