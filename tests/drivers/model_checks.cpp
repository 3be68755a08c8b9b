// Checks of the model class that Python cannot reach: the training hook, the state a stopped
// or failed operation leaves, and one model read from several threads at once. Prints each
// failed check and exits non-zero.
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tokenizer/basic/encode.hpp"
#include "tokenizer/basic/model.hpp"

#include "expect.hpp"

namespace {

using tessaron::TokenId;
using tessaron::TokenPair;
using tessaron::basic::MergeMap;
using tessaron::basic::Model;
using tessaron::basic::SpecialTokenMap;
using tessaron::drivers::expect;
using tessaron::drivers::failures;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<std::pair<TokenPair, TokenId>> rules_of(const Model& model) {
    return {model.merges().begin(), model.merges().end()};
}

std::vector<std::pair<std::string, TokenId>> specials_of(const Model& model) {
    return {model.special_tokens().begin(), model.special_tokens().end()};
}

// Everything a caller can see of a model.
bool same(const Model& a, const Model& b) {
    if (rules_of(a) != rules_of(b) || specials_of(a) != specials_of(b) ||
        a.pattern() != b.pattern() || a.vocab_size() != b.vocab_size() ||
        a.rendered().size() != b.rendered().size()) {
        return false;
    }
    for (const auto& [id, bytes] : a.vocab()) {
        const std::string* other = b.token_bytes(id);
        if (other == nullptr || *other != bytes) return false;
    }
    return true;
}

std::string sample_text() {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "the cat sat on the mat; the dog sat on the log. ";
    return text;
}

// A loaded model with a pattern and a special token, to see what training keeps.
Model loaded_model() {
    MergeMap merges;
    merges.insert({104, 101}, 256);
    merges.insert({256, 32}, 257);
    SpecialTokenMap specials;
    specials.insert("<|end|>", 100000);
    Model model;
    model.replace(std::move(merges), std::move(specials), "\\w+");
    return model;
}

void hook_sees_every_merge_and_stop_leaves_the_model_whole() {
    const std::string text = sample_text();
    Model plain;
    expect(plain.train(bytes_of(text), 280, 1), "training without a hook finishes");
    expect(plain.merges().size() == 24, "24 rules learned");

    std::vector<std::uint64_t> done;
    Model watched;
    const bool finished =
        watched.train(bytes_of(text), 280, 1, [&](std::uint64_t d, std::uint64_t w) {
            done.push_back(d);
            return w == 24;
        });
    expect(finished, "a hook that never says stop lets training finish");
    expect(same(watched, plain), "a watched run learns what an unwatched one does");
    expect(!done.empty() && done.front() == 0 && done.back() == 24, "hook told 0 first, 24 last");
    bool steps_of_one = true;
    for (std::size_t i = 1; i + 1 < done.size(); ++i) steps_of_one &= done[i] == done[i - 1] + 1;
    expect(steps_of_one, "hook told every rule count in order");

    for (const std::uint64_t stop_at : {0, 1, 20}) {
        Model model = loaded_model();
        const Model before = loaded_model();
        const bool stopped = !model.train(
            bytes_of(text), 280, 2, [&](std::uint64_t d, std::uint64_t) { return d < stop_at; });
        expect(stopped, "a hook that says stop stops training");
        expect(same(model, before), "a stopped training leaves the model as it was");
    }
}

// On a large text the first count and index take seconds: the hook is asked during them too,
// so that a caller can stop before the first merge; with 2 threads the index runs on the pool.
void hook_is_asked_before_the_first_merge_of_a_large_text() {
    std::string text;
    while (text.size() < (std::size_t{40} << 20)) text += sample_text();
    for (std::uint64_t threads : {1, 2}) {
        std::vector<std::uint64_t> done;
        Model model = loaded_model();
        const Model before = loaded_model();
        const bool stopped =
            !model.train(bytes_of(text), 260, threads, [&](std::uint64_t d, std::uint64_t) {
                done.push_back(d);
                return done.size() < 3;
            });
        expect(stopped, "a hook that says stop during the index stops training");
        expect(done.size() == 3 && done.back() == 0, "hook asked three times before any merge");
        expect(same(model, before), "a training stopped in its index leaves the model as it was");
    }
}

void training_keeps_the_pattern_and_drops_the_rest() {
    Model model = loaded_model();
    expect(model.train(bytes_of("abab"), 257, 1), "training finishes");
    expect(model.pattern() == "\\w+", "training keeps the pattern");
    expect(model.special_tokens().empty(), "training drops the special tokens");
    expect(model.vocab_size() == 257 && *model.token_bytes(256) == "ab", "bytes and one rule");

    model = loaded_model();
    model.reset_to_bytes();
    expect(model.pattern() == "\\w+" && model.merges().empty() && model.special_tokens().empty() &&
               model.vocab_size() == 256,
           "reset keeps the pattern and holds the bytes alone");
}

void failed_operations_leave_a_whole_model() {
    // Rules that double a token's length at every step spell out more than memory holds.
    MergeMap doubling;
    doubling.insert({97, 97}, 256);
    for (TokenId id = 257; id < 256 + 80; ++id) doubling.insert({id - 1, id - 1}, id);
    Model model = loaded_model();
    bool refused = false;
    try {
        model.replace(std::move(doubling), {}, "");
    } catch (const std::bad_alloc&) {
        refused = true;
    }
    expect(refused, "an impossible vocabulary is refused");
    expect(same(model, loaded_model()), "a refused replace changes nothing");

    bool failed = false;
    try {
        (void)model.train(bytes_of("abc"), 255, 1);
    } catch (...) {
        failed = true;
    }
    expect(failed && same(model, loaded_model()), "vocab_size below 256 changes nothing");
}

void one_model_encodes_on_many_threads() {
    const std::string text = sample_text();
    Model model;
    expect(model.train(bytes_of(text), 400, 1), "training finishes");
    const std::vector<TokenId> expected = tessaron::basic::encode(model, text).ids();
    std::vector<std::vector<TokenId>> got(4);
    std::vector<std::thread> threads;
    for (auto& out : got) {
        threads.emplace_back([&model, &text, &out] {
            for (int round = 0; round < 50; ++round) {
                out = tessaron::basic::encode(model, text).ids();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& out : got) expect(out == expected, "every thread gets the same ids");

    // Moving a model keeps what it encodes.
    Model moved = std::move(model);
    expect(tessaron::basic::encode(moved, text).ids() == expected, "a moved model encodes alike");
}

}  // namespace

int main() {
    hook_sees_every_merge_and_stop_leaves_the_model_whole();
    hook_is_asked_before_the_first_merge_of_a_large_text();
    training_keeps_the_pattern_and_drops_the_rest();
    failed_operations_leave_a_whole_model();
    one_model_encodes_on_many_threads();
    if (failures == 0) std::puts("all model checks passed");
    return failures == 0 ? 0 : 1;
}
