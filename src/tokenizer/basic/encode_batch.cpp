#include "tokenizer/basic/encode_batch.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "parallel/spin.hpp"
#include "parallel/standby_threads.hpp"
#include "tokenizer/basic/encode_with_specials.hpp"

namespace tessaron::basic {

namespace {

// A run's bytes: enough that taking a run costs nothing beside encoding it. Each run takes a
// share of the bytes still left, so the runs shrink toward the end of the batch and the
// threads finish within about one short run of each other, instead of one waiting out a long
// last run alone.
constexpr std::size_t kSmallestRun = std::size_t{64} << 10;
constexpr std::size_t kLargestRun = std::size_t{4} << 20;
constexpr std::size_t kRunsPerThreadLeft = 8;
// The threads finish encoding within about one short run of each other: a wait for the others
// that long is spent awake, as being woken would add as much again.
constexpr auto kHandOverSpin = std::chrono::microseconds(300);
// More threads than any machine has cores would only cost their stacks.
constexpr std::size_t kMostThreads = 1024;

// Run boundaries: run r covers texts [starts[r], starts[r + 1]).
std::vector<std::size_t> cut_runs(std::span<const std::string_view> texts, std::size_t threads) {
    std::size_t left = 0;
    for (std::string_view text : texts) left += text.size() + 1;  // + 1: an empty text costs too
    auto run_bytes = [&] {
        return std::clamp(left / (threads * kRunsPerThreadLeft), kSmallestRun, kLargestRun);
    };
    std::vector<std::size_t> starts{0};
    std::size_t bytes = 0;
    std::size_t wanted = run_bytes();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        bytes += texts[i].size() + 1;
        if (bytes >= wanted && i + 1 < texts.size()) {
            starts.push_back(i + 1);
            left -= bytes;
            bytes = 0;
            wanted = run_bytes();
        }
    }
    starts.push_back(texts.size());
    return starts;
}

// The first failure of the threads sharing out runs; recording it stops the others from
// taking more.
class FirstFailure {
public:
    FirstFailure(std::atomic<std::size_t>& next_run, std::size_t runs)
        : next_run_(next_run), runs_(runs) {}

    // In a catch block.
    void record() {
        const std::lock_guard<std::mutex> hold(lock_);
        if (!failure_) failure_ = std::current_exception();
        next_run_.store(runs_);
    }
    // Once every thread that may record has stopped or said it is done.
    bool happened() const { return failure_ != nullptr; }
    void rethrow() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::atomic<std::size_t>& next_run_;
    const std::size_t runs_;
    std::mutex lock_;
    std::exception_ptr failure_;
};

// Calls `each_run(r, first, last)` for every run of `starts`, on the calling thread and up to
// `threads - 1` more, each with its own `each_run = make_each_run()`; the first failure is
// rethrown once all have stopped.
template <class MakeEachRun>
void for_each_run(const std::vector<std::size_t>& starts, std::size_t threads,
                  MakeEachRun make_each_run) {
    const std::size_t runs = starts.size() - 1;
    std::atomic<std::size_t> next_run{0};
    FirstFailure failure(next_run, runs);
    const parallel::StandbyThreads::Body work = [&](std::size_t) {
        try {
            auto each_run = make_each_run();
            for (std::size_t r; (r = next_run.fetch_add(1)) < runs;) {
                each_run(r, starts[r], starts[r + 1]);
            }
        } catch (...) {
            failure.record();
        }
    };
    parallel::StandbyThreads helpers(std::min(threads, runs) - 1, work);
    work(0);
    helpers.wait();
    failure.rethrow();
}

// Appends the decimal ids of `numbers` as one line.
void append_line(std::span<const std::uint32_t> numbers, std::span<const TokenId> token_ids,
                 std::span<const TokenId> special_ids, std::string& out) {
    // Room for a block at a time (20 digits and a separator per id), so that a long text needs
    // no more than its own line.
    constexpr std::size_t kBlock = 4096;
    for (std::size_t from = 0; from < numbers.size(); from += kBlock) {
        const std::span<const std::uint32_t> block =
            numbers.subspan(from, std::min(kBlock, numbers.size() - from));
        const std::size_t start = out.size();
        out.resize(start + 21 * block.size());
        char* at = out.data() + start;
        char* const end = out.data() + out.size();
        for (const std::uint32_t number : block) {
            const TokenId id = number < token_ids.size() ? token_ids[number]
                                                         : special_ids[number - token_ids.size()];
            at = std::to_chars(at, end, id).ptr;
            *at++ = ' ';
        }
        out.resize(static_cast<std::size_t>(at - out.data()));
    }
    if (!numbers.empty()) out.pop_back();
    out.push_back('\n');
}

}  // namespace

void encode_batch_to(const Model& model, std::span<const std::string_view> texts,
                     const SpecialMatcher* specials, pretok::KnownPieces* known,
                     std::size_t threads, BatchTaker& taker) {
    threads = std::clamp<std::size_t>(threads, 1, kMostThreads);
    const std::vector<std::size_t> starts = cut_runs(texts, threads);
    const std::size_t runs = starts.size() - 1;
    // The numbers of each run end to end, and the runs each thread encoded: a thread takes
    // what it encoded itself, still in its cache.
    std::vector<std::vector<std::uint32_t>> run_numbers(runs);
    std::vector<std::size_t> lengths(texts.size());
    std::vector<std::vector<std::size_t>> runs_of(std::min(threads, runs));
    std::atomic<std::size_t> next_run{0};
    std::atomic<std::size_t> encoded{0};  // threads done encoding
    // Whether the threads go on to take: 0 while undecided, then kTake or kStop.
    constexpr int kTake = 1;
    constexpr int kStop = 2;
    std::atomic<int> decision{0};
    FirstFailure failure(next_run, runs);
    auto encode_runs = [&](std::size_t t) {
        try {
            TextEncoder encoder(model, specials, known);
            for (std::size_t r; (r = next_run.fetch_add(1)) < runs;) {
                // Filled here and moved in once full: the vectors of neighbouring runs, which
                // two threads fill at once, share a cache line, and every id appended writes
                // its vector's end.
                std::vector<std::uint32_t> numbers;
                std::size_t bytes = 0;
                for (std::size_t i = starts[r]; i < starts[r + 1]; ++i) bytes += texts[i].size();
                // Most texts take fewer tokens than a quarter of their bytes.
                numbers.reserve(bytes / 4 + 16);
                for (std::size_t i = starts[r]; i < starts[r + 1]; ++i) {
                    const std::size_t before = numbers.size();
                    encoder.encode(texts[i], numbers);
                    lengths[i] = numbers.size() - before;
                }
                run_numbers[r] = std::move(numbers);
                runs_of[t].push_back(r);
            }
        } catch (...) {
            failure.record();
        }
    };
    auto take_runs = [&](std::size_t t) {
        try {
            for (const std::size_t r : runs_of[t]) {
                const std::span<const std::uint32_t> numbers = run_numbers[r];
                std::size_t at = 0;
                for (std::size_t i = starts[r]; i < starts[r + 1]; ++i) {
                    taker.take(t, i, numbers.subspan(at, lengths[i]));
                    at += lengths[i];
                }
                std::vector<std::uint32_t>().swap(run_numbers[r]);
            }
        } catch (...) {
            failure.record();
        }
    };
    const parallel::StandbyThreads::Body helper = [&](std::size_t t) {
        encode_runs(t);
        encoded.fetch_add(1, std::memory_order_release);
        encoded.notify_one();
        parallel::spin_until([&] { return decision.load() != 0; }, kHandOverSpin);
        decision.wait(0);
        if (decision.load() == kTake) take_runs(t);
    };

    parallel::StandbyThreads helpers(runs_of.size() - 1, helper);
    encode_runs(0);
    parallel::spin_until(
        [&] { return encoded.load(std::memory_order_acquire) >= helpers.started(); },
        kHandOverSpin);
    for (std::size_t done; (done = encoded.load(std::memory_order_acquire)) < helpers.started();) {
        encoded.wait(done);
    }
    // Every helper waits for the decision, so none may be left waiting when this returns.
    auto decide = [&](int what) {
        decision.store(what);
        decision.notify_all();
        if (what == kTake) take_runs(0);
        helpers.wait();
    };
    if (!failure.happened()) {
        try {
            taker.prepare(lengths, helpers.started() + 1);
        } catch (...) {
            failure.record();
        }
    }
    decide(failure.happened() ? kStop : kTake);
    failure.rethrow();
}

std::vector<std::string> encode_batch_lines(const Model& model,
                                            std::span<const std::string_view> texts,
                                            const SpecialMatcher* specials,
                                            pretok::KnownPieces* known, std::size_t threads,
                                            const IdMap* outer) {
    threads = std::clamp<std::size_t>(threads, 1, kMostThreads);
    const std::vector<std::size_t> starts = cut_runs(texts, threads);
    std::vector<std::string> pieces(starts.size() - 1);
    std::span<const TokenId> token_ids = model.encode_tables().token_ids();
    std::vector<TokenId> outer_ids;
    if (outer != nullptr) {
        for (const TokenId id : token_ids) outer_ids.push_back(outer->outer(id));
        token_ids = outer_ids;
    }
    std::vector<TokenId> special_ids;
    for (const auto& entry : model.special_tokens()) {
        special_ids.push_back(outer != nullptr ? outer->outer(entry.second) : entry.second);
    }
    for_each_run(starts, threads, [&] {
        return [&, encoder = TextEncoder(model, specials, known)](std::size_t r, std::size_t first,
                                                                  std::size_t last) mutable {
            std::vector<std::uint32_t> numbers;
            std::string piece;
            for (std::size_t i = first; i < last; ++i) {
                numbers.clear();
                encoder.encode(texts[i], numbers);
                append_line(numbers, token_ids, special_ids, piece);
            }
            pieces[r] = std::move(piece);
        };
    });
    return pieces;
}

std::vector<std::string_view> split_lines(std::string_view data) {
    std::vector<std::string_view> lines;
    const char* at = data.data();
    const char* const end = at + data.size();
    while (at != end) {
        const void* found = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        const char* stop = found != nullptr ? static_cast<const char*>(found) : end;
        lines.emplace_back(at, static_cast<std::size_t>(stop - at));
        at = stop == end ? end : stop + 1;
    }
    return lines;
}

}  // namespace tessaron::basic
