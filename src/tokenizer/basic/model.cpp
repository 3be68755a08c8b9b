#include "tokenizer/basic/model.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tokenizer/basic/build_vocab.hpp"
#include "tokenizer/basic/merge_learner.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::basic {

namespace {

Vocab byte_vocab() {
    Vocab vocab;
    vocab.reset_to_bytes();
    return vocab;
}

}  // namespace

Model::Model() : Model({}, {}, {}, {}) {}

Model::Model(MergeMap merges, SpecialTokenMap special_tokens, std::string pattern, Vocab vocab)
    : merges_(std::move(merges)),
      special_tokens_(std::move(special_tokens)),
      pattern_(std::move(pattern)),
      vocab_(std::move(vocab)) {
    encode_tables_.rebuild(merges_);
}

void Model::replace(MergeMap merges, SpecialTokenMap special_tokens, std::string pattern) {
    Vocab vocab;
    basic::build_vocab(vocab, merges, special_tokens);
    *this =
        Model(std::move(merges), std::move(special_tokens), std::move(pattern), std::move(vocab));
}

void Model::reset_to_bytes() { *this = Model({}, {}, std::move(pattern_), byte_vocab()); }

void Model::build_vocab() {
    // On a copy: a failure half-way must leave the present vocabulary whole.
    Vocab vocab = vocab_;
    basic::build_vocab(vocab, merges_, special_tokens_);
    auto rendered = std::make_unique<Rendered>();
    vocab_ = std::move(vocab);
    rendered_ = std::move(rendered);
}

const RenderedVocab& Model::rendered() const {
    std::call_once(rendered_->made, [&] { rendered_->texts = RenderedVocab(vocab_); });
    return rendered_->texts;
}

bool Model::train(std::span<const std::uint8_t> text, std::uint64_t vocab_size,
                  std::uint64_t num_threads, const TrainProgress& progress) {
    check(vocab_size >= 256, "vocab_size must be at least 256");
    std::optional<std::vector<LearnedMerge>> learned;
    try {
        learned = learn_merges(text, vocab_size - 256, num_threads, progress);
    } catch (...) {
        // The first face has always shown a failed training as a model of bytes alone.
        reset_to_bytes();
        throw;
    }
    if (!learned) return false;

    MergeMap merges;
    merges.reserve(learned->size());
    Vocab vocab = byte_vocab();
    vocab.reserve(256 + learned->size());
    TokenId id = 256;
    for (const LearnedMerge& merge : *learned) {
        merges.insert({merge.left, merge.right}, id);
        // Both parts are bytes or earlier rules, so both have their entry.
        std::string bytes = *vocab.find(merge.left);
        bytes += *vocab.find(merge.right);
        vocab.set(id, std::move(bytes));
        ++id;
    }
    *this = Model(std::move(merges), {}, pattern_, std::move(vocab));
    return true;
}

}  // namespace tessaron::basic
