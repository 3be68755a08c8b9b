#include "tokenizer/basic/build_vocab.hpp"

namespace tessaron::basic {

void build_vocab(TokenizerState& state) {
    Vocab& vocab = state.vocab;
    vocab.reserve(vocab.size() + 256 + state.merges.size() + state.special_tokens.size());
    for (TokenId b = 0; b < 256; ++b) {
        vocab.set(b, std::string(1, static_cast<char>(b)));
    }
    for (const auto& [pair, id] : state.merges) {
        const std::string* left = vocab.find(pair.left);
        if (left == nullptr) continue;
        const std::string* right = vocab.find(pair.right);
        if (right == nullptr) continue;
        std::string bytes;
        bytes.reserve(left->size() + right->size());
        bytes.append(*left).append(*right);
        vocab.set(id, std::move(bytes));
    }
    for (const auto& [text, id] : state.special_tokens) {
        vocab.set(id, text);
    }
    state.refresh_derived();
}

}  // namespace tessaron::basic
