#include "tokenizer/basic/train.hpp"

#include <span>
#include <string>

#include "tokenizer/basic/merge_learner.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::basic {

void train(TokenizerState& state, std::string_view text, std::uint64_t vocab_size) {
    check(vocab_size >= 256, "vocab_size must be at least 256");
    if (text.size() > kMaxTrainingBytes) {
        fail_internal("text of " + std::to_string(text.size()) +
                      " bytes is too long to train on; the limit is " +
                      std::to_string(kMaxTrainingBytes) + " bytes");
    }
    state.merges.clear();
    state.special_tokens.clear();
    state.vocab.reset_to_bytes();
    try {
        const std::span<const std::uint8_t> bytes(
            reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        const std::vector<LearnedMerge> learned =
            learn_merges(bytes, vocab_size - 256, state.num_threads);
        state.merges.reserve(learned.size());
        state.vocab.reserve(256 + learned.size());
        TokenId id = 256;
        for (const LearnedMerge& merge : learned) {
            state.merges.insert({merge.left, merge.right}, id);
            std::string bytes_of_id = *state.vocab.find(merge.left);
            bytes_of_id += *state.vocab.find(merge.right);
            state.vocab.set(id, std::move(bytes_of_id));
            ++id;
        }
    } catch (...) {
        state.refresh_derived();
        throw;
    }
    state.refresh_derived();
}

}  // namespace tessaron::basic
