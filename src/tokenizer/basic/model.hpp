// A BPE model: rules in learning order, special tokens, split pattern and vocabulary, with the
// tables derived from them (display texts for decoding, the encoder's tables). The fields
// change only through the operations below, each of which rebuilds what derives from them
// before it returns and leaves the model whole if it throws. `const` members only read, but
// for the tables that are made at their first use (the display texts, the encoder's search),
// each made once while any other thread asking waits; so several threads may use one model at
// once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "tokenizer/basic/encode_tables.hpp"
#include "tokenizer/basic/model_maps.hpp"
#include "tokenizer/basic/rendered_vocab.hpp"
#include "tokenizer/basic/train_progress.hpp"
#include "tokenizer/basic/vocab.hpp"
#include "support/types.hpp"

namespace tessaron::basic {

class Model {
public:
    // No rules, no special tokens, an empty pattern and no vocabulary entry at all.
    Model();

    // Takes the parts of a model file; the vocabulary is built afresh from them. Throws
    // std::bad_alloc, changing nothing, when the rules spell out more than memory holds.
    void replace(MergeMap merges, SpecialTokenMap special_tokens, std::string pattern);

    // No rules and no special tokens, the 256 single bytes as the vocabulary; the pattern stays.
    void reset_to_bytes();

    // Runs the vocabulary builder over the present vocabulary: bytes, rules and special tokens
    // are written over it, and nothing is removed.
    void build_vocab();

    // Learns up to vocab_size - 256 rules from `text` into the bytes and no special tokens;
    // the pattern stays. Returns false, the model unchanged, when `progress` says stop.
    // vocab_size below 256 or a text too long fails before anything changes; a failure
    // while learning leaves the model as reset_to_bytes() does.
    bool train(std::span<const std::uint8_t> text, std::uint64_t vocab_size,
               std::uint64_t num_threads, const TrainProgress& progress = {});

    const MergeMap& merges() const { return merges_; }
    const SpecialTokenMap& special_tokens() const { return special_tokens_; }
    const std::string& pattern() const { return pattern_; }
    const Vocab& vocab() const { return vocab_; }
    std::size_t vocab_size() const { return vocab_.size(); }
    // Null when the id has no vocabulary entry.
    const std::string* token_bytes(TokenId id) const { return vocab_.find(id); }

    // Made at the first call: only decoding to display text and the vocabulary listing read
    // it, and a tokenizer of the second face does neither (a twentieth of building
    // `cl100k_base` from its ranks).
    const RenderedVocab& rendered() const;
    const EncodeTables& encode_tables() const { return encode_tables_; }

private:
    Model(MergeMap merges, SpecialTokenMap special_tokens, std::string pattern, Vocab vocab);

    MergeMap merges_;
    SpecialTokenMap special_tokens_;
    std::string pattern_;
    // The display texts of vocab_, once made.
    struct Rendered {
        std::once_flag made;
        RenderedVocab texts;
    };

    Vocab vocab_;
    std::unique_ptr<Rendered> rendered_ = std::make_unique<Rendered>();
    EncodeTables encode_tables_;
};

}  // namespace tessaron::basic
