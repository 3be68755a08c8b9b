// Fills a vocabulary from rules and special tokens; never removes an entry.
#pragma once

#include "tokenizer/basic/model_maps.hpp"
#include "tokenizer/basic/vocab.hpp"

namespace tessaron::basic {

// Throws std::bad_alloc, before writing anything, when the rules would spell out more bytes
// than memory can hold.
void build_vocab(Vocab& vocab, const MergeMap& merges, const SpecialTokenMap& special_tokens);

}  // namespace tessaron::basic
