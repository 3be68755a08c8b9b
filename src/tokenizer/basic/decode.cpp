#include "tokenizer/basic/decode.hpp"

#include <cstring>

namespace tessaron::basic {

IoStatus decode(const Model& model, std::span<const TokenId> ids, std::string& out) {
    const RenderedVocab& rendered = model.rendered();
    // First pass validates and sizes, so the copy pass never reallocates.
    std::size_t total = 0;
    for (TokenId id : ids) {
        auto text = rendered.find(id);
        if (!text) {
            return IoError::with_message(IoKind::InvalidInput,
                                         "invalid token ID: " + std::to_string(id));
        }
        total += text->size();
    }
    out.resize(total);
    char* dst = out.data();
    for (TokenId id : ids) {
        auto text = *rendered.find(id);
        std::memcpy(dst, text.data(), text.size());
        dst += text.size();
    }
    return {};
}

}  // namespace tessaron::basic
