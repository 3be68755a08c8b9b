// The state owned by one BasicTokenizer.
#pragma once

#include <cstdint>
#include <string>

#include "tokenizer/basic/encode_tables.hpp"
#include "tokenizer/basic/rendered_vocab.hpp"
#include "tokenizer/basic/vocab.hpp"
#include "support/ordered_map.hpp"
#include "support/types.hpp"

namespace tessaron::basic {

using MergeMap = OrderedMap<TokenPair, TokenId>;
using SpecialTokenMap = OrderedMap<std::string, TokenId>;

struct TokenizerState {
    explicit TokenizerState(std::uint64_t threads) : num_threads(threads) { refresh_derived(); }

    MergeMap merges;
    std::string pattern;
    SpecialTokenMap special_tokens;
    Vocab vocab;
    std::uint64_t num_threads;

    // Tables derived from the fields above. Whoever changes merges or vocab calls
    // refresh_derived() before giving the state back.
    RenderedVocab rendered;
    EncodeTables encode_tables;

    void refresh_derived();
};

}  // namespace tessaron::basic
