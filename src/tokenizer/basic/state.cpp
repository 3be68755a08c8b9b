#include "tokenizer/basic/state.hpp"

namespace tessaron::basic {

void TokenizerState::refresh_derived() {
    rendered.rebuild(vocab);
    encode_tables.rebuild(merges);
}

}  // namespace tessaron::basic
