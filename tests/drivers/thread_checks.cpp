// Work that threads share, checked against one thread doing it alone: training's first count,
// index and merge steps on the worker pool, the pieces' count on the pool, a batch encoded by
// threads that learn into one table of pieces, one whose threads all ask a model for its
// search tables before any has made them, and threads decoding with a model whose display texts
// nobody has asked for yet. `make test-threads` runs it under ThreadSanitizer, where a race
// shows even when the results happen to agree. Prints each failed check and exits non-zero.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "tokenizer/basic/decode.hpp"
#include "tokenizer/basic/encode_batch.hpp"
#include "tokenizer/basic/merge_learner.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/pretok/piece_encoder.hpp"
#include "tokenizer/pretok/piece_merge_learner.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

#include "expect.hpp"

namespace {

using tessaron::basic::LearnedMerge;
using tessaron::drivers::expect;
using tessaron::drivers::failures;

// Over a MiB, so that the first index runs on the pool too, of words common enough that many
// merge steps have the hundreds of occurrences that send them to the pool.
std::string make_text() {
    const std::vector<std::string> words = {"the",    "of",    "tokenizer", "merge",  "rule",
                                            "pair",   "count", "thread",    "pool",   "byte",
                                            "ça",     "déjà",  "naïve",     "straße", "東京",
                                            "данные", "2026",  "1024",      "don't",  "we're"};
    std::mt19937 rng(7);
    std::string text;
    while (text.size() < (std::size_t{3} << 19)) {
        text += words[rng() % words.size()];
        const unsigned gap = rng() % 16;
        text += gap == 0 ? ".\n" : gap == 1 ? ", " : gap == 2 ? "  " : " ";
    }
    return text;
}

bool same_rules(const std::vector<LearnedMerge>& a, const std::vector<LearnedMerge>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].left != b[i].left || a[i].right != b[i].right) return false;
    }
    return true;
}

std::vector<LearnedMerge> training_on_the_pool_learns_what_one_thread_learns(
    std::string_view text) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const auto alone = tessaron::basic::learn_merges(bytes, 800, 1, {});
    for (const std::uint64_t threads : {2, 3, 8}) {
        const auto shared = tessaron::basic::learn_merges(bytes, 800, threads, {});
        expect(alone && shared && same_rules(*alone, *shared),
               "whole-text training with " + std::to_string(threads) + " threads");
    }
    return alone ? *alone : std::vector<LearnedMerge>();
}

tessaron::basic::Model model_of(const std::vector<LearnedMerge>& rules, std::string pattern) {
    tessaron::basic::MergeMap merges;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        merges.insert({rules[i].left, rules[i].right}, 256 + i);
    }
    tessaron::basic::Model model;
    model.replace(std::move(merges), {}, std::move(pattern));
    return model;
}

// Short texts, so that many runs go to each thread.
std::vector<std::string_view> short_texts(std::string_view text) {
    std::vector<std::string_view> texts;
    for (std::size_t at = 0; at < text.size(); at += 2000) texts.push_back(text.substr(at, 2000));
    return texts;
}

std::string joined(const std::vector<std::string>& pieces) {
    std::string all;
    for (const std::string& piece : pieces) all += piece;
    return all;
}

// A model makes its search tables when an encoding first asks for them.
void batch_threads_make_the_search_once(const std::vector<LearnedMerge>& rules,
                                        std::string_view text) {
    const std::vector<std::string_view> texts = short_texts(text);
    const auto alone =
        tessaron::basic::encode_batch_lines(model_of(rules, ""), texts, nullptr, nullptr, 1);
    for (const std::size_t threads : {2, 4}) {
        const auto shared = tessaron::basic::encode_batch_lines(model_of(rules, ""), texts, nullptr,
                                                                nullptr, threads);
        expect(joined(alone) == joined(shared),
               "first batch of a whole-text model on " + std::to_string(threads) + " threads");
    }
}

// The model of rules learned inside the pieces of `text`, split by `pattern`.
tessaron::basic::Model piece_model(const tessaron::pretok::SplitPattern& pattern,
                                   std::string_view text) {
    const auto alone = tessaron::pretok::learn_piece_merges(pattern, text, 600, 1);
    for (const std::uint64_t threads : {2, 4}) {
        const auto shared = tessaron::pretok::learn_piece_merges(pattern, text, 600, threads);
        expect(alone && shared && same_rules(*alone, *shared),
               "training inside pieces with " + std::to_string(threads) + " threads");
    }
    return model_of(alone ? *alone : std::vector<LearnedMerge>(), pattern.expression());
}

void batch_threads_share_one_table_of_pieces(const tessaron::basic::Model& model,
                                             std::string_view text) {
    // Many runs to each thread, so that they learn pieces side by side.
    const std::vector<std::string_view> texts = short_texts(text);
    const auto alone = tessaron::basic::encode_batch_lines(
        model, texts, nullptr, tessaron::pretok::known_pieces_of(model).get(), 1);
    for (const std::size_t threads : {2, 4}) {
        const auto known = tessaron::pretok::known_pieces_of(model);
        // First with the table empty, every thread learning, then with what they learned.
        for (const char* state : {"fresh", "warm"}) {
            const auto shared =
                tessaron::basic::encode_batch_lines(model, texts, nullptr, known.get(), threads);
            expect(joined(alone) == joined(shared), std::string("batch on ") +
                                                        std::to_string(threads) + " threads, " +
                                                        state + " table");
        }
    }
}

// A model makes its display texts when a decoding first asks for them.
void threads_make_the_display_texts_once(const std::vector<LearnedMerge>& rules) {
    std::vector<tessaron::TokenId> ids(256 + rules.size());
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = ids.size() - 1 - i;
    std::string alone;
    expect(tessaron::basic::decode(model_of(rules, ""), ids, alone).ok(), "decoding alone");
    const tessaron::basic::Model model = model_of(rules, "");
    std::vector<std::string> texts(4);
    std::vector<std::thread> threads;
    for (std::string& text : texts) {
        threads.emplace_back([&] { (void)tessaron::basic::decode(model, ids, text); });
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::string& text : texts) expect(text == alone, "decoding on 4 threads at once");
}

}  // namespace

int main() {
    const std::string text = make_text();
    const std::vector<LearnedMerge> rules =
        training_on_the_pool_learns_what_one_thread_learns(text);
    batch_threads_make_the_search_once(rules, text);
    threads_make_the_display_texts_once(rules);
    const auto pattern = tessaron::pretok::split_pattern("gpt2");
    if (const auto* split = std::get_if<tessaron::pretok::SplitPattern>(&pattern)) {
        batch_threads_share_one_table_of_pieces(piece_model(*split, text), text);
    } else {
        expect(false, "the gpt2 pattern");
    }
    if (failures == 0) std::puts("all thread checks passed");
    return failures == 0 ? 0 : 1;
}
