#include "tokenizer/basic/vocab.hpp"

namespace tessaron::basic {

void Vocab::reset_to_bytes() {
    map_.clear();
    map_.reserve(256);
    for (TokenId b = 0; b < 256; ++b) {
        map_.emplace(b, std::string(1, static_cast<char>(b)));
    }
}

}  // namespace tessaron::basic
