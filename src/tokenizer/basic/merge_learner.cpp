#include "tokenizer/basic/merge_learner.hpp"

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstring>

#include "tokenizer/basic/byte_pair_counts.hpp"
#include "tokenizer/basic/formed_pairs.hpp"
#include "tokenizer/basic/list_arena.hpp"
#include "tokenizer/basic/pair_queue.hpp"
#include "tokenizer/basic/pair_table.hpp"
#include "tokenizer/basic/position_list.hpp"
#include "tokenizer/basic/token_sequence.hpp"
#include "parallel/worker_pool.hpp"
#include "support/internal_failure.hpp"
#include "support/page_vector.hpp"

// Texts up to this many bytes train with 32-bit positions in the notes of a step; test builds
// set 0 so that small texts take the 64-bit ones.
#ifndef TESSARON_NARROW_POSITIONS_MAX
#define TESSARON_NARROW_POSITIONS_MAX 0xFFFFFFFF
#endif

// The smallest merge step that runs on the pool; test builds set 1 so that every step does.
#ifndef TESSARON_PARALLEL_MERGE_MIN
#define TESSARON_PARALLEL_MERGE_MIN 512
#endif
// Bytes of text the first count and index take between questions to the caller; test builds
// set a few KiB so that small texts are indexed in chunks on the pool.
#ifndef TESSARON_SETUP_BLOCK
#define TESSARON_SETUP_BLOCK (1u << 24)
#endif

namespace tessaron::basic {

namespace {

constexpr std::uint64_t kNarrowPositions = TESSARON_NARROW_POSITIONS_MAX;

constexpr std::uint64_t pair_key(std::uint32_t left, std::uint32_t right) {
    return (std::uint64_t{left} << 32) | right;
}

// True for the key of a pair of two bytes.
constexpr bool bytes_only(std::uint64_t key) { return ((key >> 32) | (key & 0xFFFFFFFF)) < 256; }

// One pair's count and where its position list lies in the arena. Records lie in arena
// order, so a record's list ends where the next record's begins. A count is below the text's
// length, so it takes the type of a position.
template <class Count>
struct PairRecord {
    std::uint32_t left;
    std::uint32_t right;
    Count count;
    Count entries;  // positions in the list, the stale ones included
    std::uint64_t offset;
};

template <class Count>
struct PairRecordKey {
    const PageVector<PairRecord<Count>>* records;
    std::uint64_t operator()(std::uint32_t index) const {
        const PairRecord<Count>& record = (*records)[index];
        return pair_key(record.left, record.right);
    }
};

// Pair keys held back from the index, by their place in the list.
struct HeldKey {
    const PageVector<std::uint64_t>* keys;
    std::uint64_t operator()(std::uint32_t index) const { return (*keys)[index]; }
};

// Position holds every position of the text; the notes of a merge step take one each.
template <class Position>
class MergeLearner {
    using FormedPairs = basic::FormedPairs<Position>;
    using Group = typename FormedPairs::Group;
    using Side = typename FormedPairs::Side;
    using Record = PairRecord<Position>;
    using RecordKey = PairRecordKey<Position>;
    using PairQueue = basic::PairQueue<Position>;

public:
    MergeLearner(std::span<const std::uint8_t> bytes, std::uint64_t max_merges,
                 std::uint64_t num_threads)
        : seq_(bytes, copy_parts(bytes.size(), num_threads)),
          table_(RecordKey{&records_}),
          threshold_(first_threshold(bytes.size(), max_merges, kFirstShare)),
          record_from_(first_threshold(bytes.size(), max_merges, kFirstShare / 2)),
          stretches_(stretch_count(bytes.size(), num_threads)) {}

    // The first count and index: a few passes over the text before the first merge, seconds
    // on a large corpus, so `keep_going` is asked between blocks (never on a text of one
    // block). False when it said stop.
    bool index(std::span<const std::uint8_t> bytes, std::uint64_t num_threads,
               const std::function<bool()>& keep_going) {
        if (stretches_.size() > 1) {
            BytePairCounts counts = count_pairs_chunked(bytes, num_threads);
            // Left to the calling thread, the index took a seventh of its time on 4 MB of
            // prose; below a sixteenth of a block the chunks' tables cost more to clear than
            // sharing the passes saves.
            if (bytes.size() > kSetupBlock / 16) {
                return index_byte_pairs_in_chunks(bytes, counts, keep_going);
            }
            return index_byte_pairs(bytes, &counts, keep_going);
        }
        return index_byte_pairs(bytes, nullptr, keep_going);
    }

    std::optional<std::vector<LearnedMerge>> run(std::uint64_t max_merges,
                                                 const TrainProgress& progress) {
        std::vector<LearnedMerge> learned;
        while (learned.size() < max_merges) {
            if (progress && !progress(learned.size(), max_merges)) return std::nullopt;
            const std::uint32_t chosen = pop_most_frequent();
            if (chosen == kMissing) break;
            const Record record = records_[chosen];
            const auto id = static_cast<std::uint32_t>(256 + learned.size());
            check(id < TokenSequence::kLimit, "too many rules for the sequence's ids");
            const bool on_pool = stretches_.size() > 1 && record.count >= kParallelMerge;
            if (on_pool) {
                replace_all_in_stretches(chosen, id);
            } else {
                release_pool_buffers();
                replace_all(chosen, id);
            }
            index_formed_pairs(chosen, id, on_pool ? stretches_.size() : 1);
            learned.push_back({record.left, record.right});
            token_bytes_.push_back(token_bytes_[record.left] + token_bytes_[record.right]);
        }
        if (progress && !progress(learned.size(), max_merges)) return std::nullopt;
        return learned;
    }

private:
    static constexpr std::uint32_t kMissing = ~std::uint32_t{0};
    static constexpr std::uint64_t kUntracked = ~std::uint64_t{0};
    static constexpr std::uint64_t kNoBudget = ~std::uint64_t{0};

    // A stretch's positions of one formed pair, as its part of the pair's list.
    struct Part {
        std::uint64_t first;
        std::uint64_t last;
        std::uint64_t inner;  // bytes of the gaps after the first position
        std::uint64_t at;  // where in the arena the part goes, or kUntracked
        std::uint64_t after;  // the position the part's first gap counts from
    };

    // One worker's share of a merge step on the pool (the only one off the pool). On cache
    // lines of its own: each note a worker adds writes its stretch's vectors, and with two
    // stretches on one line the other worker's reads of its own waited for them (two threads
    // on the mixed text to 32k: 2.04 s against 1.84, medians of 10).
    struct alignas(64) Stretch {
        FormedPairs formed;
        std::vector<Part> parts;  // per group of `formed`
    };

    // A pair that the step formed, over all stretches.
    struct Formed {
        Side side;
        std::uint32_t other;
        std::uint64_t count;
        std::uint64_t bytes;  // of its whole list
        std::uint64_t last;  // position of the last part taken in
        std::uint64_t at = 0;
    };

    // A merge step with at least this many occurrences runs on the worker pool, its
    // sequence cut into one stretch per thread: below it, handing the work over costs more
    // than it saves. The test build sets it to 1.
    static constexpr std::uint32_t kParallelMerge = TESSARON_PARALLEL_MERGE_MIN;
    static constexpr std::uint64_t kMaxStretches = 256;
    // How long the workers of a step on the pool stay awake for the next run. Between two
    // such steps the calling thread picks the next pair and makes records for tens of
    // microseconds, more when it compacts; a worker that slept by then cost the calling
    // thread 20 to 200 microseconds to wake, its wake-up often taking the caller's core.
    static constexpr std::chrono::microseconds kStepLinger{1000};
    static constexpr std::size_t kCompactPieces = 16;
    static constexpr std::size_t kSetupBlock = TESSARON_SETUP_BLOCK;
    // Without a chunked first count the pool stays unstarted.
    static std::size_t stretch_count(std::size_t bytes, std::uint64_t num_threads) {
        return num_threads >= 2 && bytes >= num_threads
                   ? static_cast<std::size_t>(std::min<std::uint64_t>(num_threads, kMaxStretches))
                   : 1;
    }
    // The sequence is copied from the text on the pool where the first count runs there in
    // chunks: zeroing its new pages, four bytes per text byte, took the calling thread up to
    // a second and a half on 50 MB when the machine was busy.
    static std::size_t copy_parts(std::size_t bytes, std::uint64_t num_threads) {
        const std::size_t parts = stretch_count(bytes, num_threads);
        return parts > 1 && bytes > kSetupBlock / 16 ? parts : 1;
    }
    // Pairs that a merge forms fewer times than the threshold get no record until the best
    // count falls below it, and then the threshold halves: most formed pairs are rare, and
    // their records would dominate memory. The last rule learned on prose and code occurs
    // more often than one in 64 * merges text bytes (23 times in 4.4 MB to 8k, 55 in 50 MB
    // to 32k); starting there keeps the rare pairs out without an early reindex.
    static constexpr std::uint64_t kFirstShare = 64;
    static std::uint32_t first_threshold(std::size_t bytes, std::uint64_t max_merges,
                                         std::uint64_t share) {
        const std::uint64_t guess = bytes / share / std::max<std::uint64_t>(max_merges, 1);
        return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(guess, 4, 1024));
    }
    // How far ahead list walks prefetch the sequence: on 50 MB of mixed text, where the walks
    // wait on memory, 32 ran 3 % faster than 16, and 48 no faster.
    static constexpr std::size_t kLookahead = 32;

    std::uint32_t find_record(std::uint32_t left, std::uint32_t right) const {
        if ((left | right) < 256) return byte_record_[(left << 8) | right];
        return table_.find(pair_key(left, right));
    }

    std::uint64_t end_of(std::uint32_t index) const {
        return index + 1 < records_.size() ? records_[index + 1].offset : arena_.size();
    }

    PositionReader list_of(std::uint32_t index) const {
        return {arena_.data() + records_[index].offset, arena_.data() + end_of(index)};
    }

    // Calls visit(p) for every position of the list, or until visit returns false,
    // prefetching the slots of the positions kLookahead ahead: the positions jump across the
    // whole text.
    template <class Visit>
    void walk(PositionReader list, Visit&& visit) const {
        walk(list, [this](std::uint64_t p) { seq_.prefetch(p); }, visit);
    }
    template <class Prefetch, class Visit>
    void walk(PositionReader list, Prefetch&& prefetch, Visit&& visit) const {
        std::uint64_t ahead[kLookahead];
        std::size_t size = 0;
        for (; size < kLookahead && !list.done(); ++size) {
            ahead[size] = list.next();
            prefetch(ahead[size]);
        }
        for (std::size_t i = 0;; i = (i + 1) % kLookahead) {
            if (list.done()) {
                // The last positions, in order, from the ring.
                for (std::size_t k = 0; k < size; ++k) {
                    if (!visit(ahead[(i + k) % kLookahead])) return;
                }
                return;
            }
            const std::uint64_t p = ahead[i];
            ahead[i] = list.next();
            prefetch(ahead[i]);
            if (!visit(p)) return;
        }
    }

    // A record for every byte pair the text holds, in key order, and its place in the queue.
    // A pair of two bytes never forms later, so these records stay the first ones.
    template <class CountOf>
    void add_byte_pair_records(CountOf&& count_of, std::uint64_t pairs) {
        byte_record_.assign(kBytePairs, kMissing);
        std::uint64_t total = 0;
        for (std::uint32_t k = 0; k < kBytePairs; ++k) {
            const auto count = static_cast<Position>(count_of(k));
            if (count == 0) continue;
            const auto index = static_cast<std::uint32_t>(records_.size());
            byte_record_[k] = index;
            records_.push_back({k >> 8, k & 0xFF, count, count, 0});
            queue_.push(count, k >> 8, k & 0xFF, index);
            total += count;
        }
        byte_records_ = records_.size();
        check(total == pairs, "byte pair counts do not add up to the text");
    }

    // `counts` are the byte pairs' counts when the pool made them; without them, the pass that
    // sizes the lists counts too (a pass of its own took an eighth of the index's time).
    bool index_byte_pairs(std::span<const std::uint8_t> bytes, const BytePairCounts* counts,
                          const std::function<bool()>& keep_going) {
        const std::size_t pairs = bytes.size() - 1;
        // A pass for the size of every list, then one that writes them; a list's end, last
        // position and count side by side, so that each byte pair costs one cache line.
        struct ListEnd {
            std::uint64_t at;
            Position last;
            Position count;
        };
        PageVector<ListEnd> ends(kBytePairs, ListEnd{0, 0, 0});
        // Calls visit(end, p) for every pair of the text in order, asking `keep_going`
        // between blocks.
        const auto each_pair = [&](auto&& visit) {
            for (std::size_t begin = 0; begin < pairs; begin += kSetupBlock) {
                if (begin != 0 && !keep_going()) return false;
                for (std::size_t p = begin; p < std::min(begin + kSetupBlock, pairs); ++p) {
                    visit(ends[(static_cast<std::size_t>(bytes[p]) << 8) | bytes[p + 1]], p);
                }
            }
            return true;
        };
        const bool sized = each_pair([](ListEnd& end, std::size_t p) {
            end.at += gap_size(p - end.last);
            end.last = static_cast<Position>(p);
            ++end.count;
        });
        if (!sized) return false;
        if (counts != nullptr) {
            add_byte_pair_records([&](std::uint32_t k) { return (*counts)[k]; }, pairs);
        } else {
            add_byte_pair_records([&](std::uint32_t k) { return ends[k].count; }, pairs);
        }
        std::uint64_t offset = 0;
        for (Record& record : records_) {
            ListEnd& end = ends[(record.left << 8) | record.right];
            record.offset = offset;
            offset += end.at;
            end = {record.offset, 0, end.count};
        }
        lay_out_arena(offset);
        std::uint8_t* const arena = arena_.data();
        return each_pair([&](ListEnd& end, std::size_t p) {
            PositionWriter writer(arena + end.at);
            writer.resume_after(end.last);
            // The count is of the positions still to write: three after this one take at
            // least three bytes, which the wide store may run into.
            if (end.count-- > 3) {
                writer.put_ahead(p);
            } else {
                writer.put(p);
            }
            end.at = static_cast<std::uint64_t>(writer.end() - arena);
            end.last = static_cast<Position>(p);
        });
    }

    // A chunk's part of one byte pair's list: while summing up, its first and last position
    // and the bytes of the gaps after the first; then where the part goes in the arena and
    // the position its first gap counts from.
    struct ChunkPart {
        static constexpr std::uint64_t kNone = ~std::uint64_t{0};
        std::uint64_t bytes = 0;
        std::uint64_t first = kNone;
        std::uint64_t last = 0;
    };

    // index_byte_pairs on the pool: the text is cut into chunks of at most a block, one per
    // thread at a time. A pass sums up each chunk's part of every list, the lists are laid out
    // from the sums, and a second pass writes each chunk's parts. `keep_going` is asked
    // between rounds of chunks.
    bool index_byte_pairs_in_chunks(std::span<const std::uint8_t> bytes,
                                    const BytePairCounts& counts,
                                    const std::function<bool()>& keep_going) {
        parallel::WorkerPool& pool = parallel::WorkerPool::global();
        const std::size_t pairs = bytes.size() - 1;
        const std::size_t threads = std::min(stretches_.size(), pool.size() + 1);
        const std::size_t rounds = (pairs + threads * kSetupBlock - 1) / (threads * kSetupBlock);
        const std::size_t chunks = threads * rounds;
        const std::size_t chunk = (pairs + chunks - 1) / chunks;
        PageVector<ChunkPart> parts(chunks * kBytePairs, ChunkPart());
        const auto key = [&](std::size_t p) {
            return (static_cast<std::size_t>(bytes[p]) << 8) | bytes[p + 1];
        };
        const auto in_rounds = [&](const std::function<void(std::size_t, ChunkPart*)>& body) {
            for (std::size_t round = 0; round < rounds; ++round) {
                if (round != 0 && !keep_going()) return false;
                pool.run_here(threads, [&](std::size_t k) {
                    const std::size_t c = round * threads + k;
                    body(c, parts.data() + c * kBytePairs);
                });
            }
            return true;
        };
        const bool summed = in_rounds([&](std::size_t c, ChunkPart* part) {
            for (std::size_t p = c * chunk; p < std::min((c + 1) * chunk, pairs); ++p) {
                ChunkPart& to = part[key(p)];
                if (to.first == ChunkPart::kNone) {
                    to.first = p;
                } else {
                    to.bytes += gap_size(p - to.last);
                }
                to.last = p;
            }
        });
        if (!summed || (bytes.size() > kSetupBlock && !keep_going())) return false;
        add_byte_pair_records([&](std::uint32_t k) { return counts[k]; }, pairs);
        std::uint64_t offset = 0;
        for (Record& record : records_) {
            const std::size_t k = (record.left << 8) | record.right;
            record.offset = offset;
            std::uint64_t last = 0;
            for (std::size_t c = 0; c < chunks; ++c) {
                ChunkPart& part = parts[c * kBytePairs + k];
                if (part.first == ChunkPart::kNone) continue;
                const std::uint64_t inner = part.bytes;
                part.bytes = offset;
                offset += gap_size(part.first - last) + inner;
                part.first = last;
                last = part.last;
            }
        }
        lay_out_arena(offset);
        return in_rounds([&](std::size_t c, ChunkPart* part) {
            for (std::size_t p = c * chunk; p < std::min((c + 1) * chunk, pairs); ++p) {
                ChunkPart& to = part[key(p)];
                PositionWriter writer(arena_.data() + to.bytes);
                writer.resume_after(to.first);
                writer.put(p);
                to.bytes = static_cast<std::uint64_t>(writer.end() - arena_.data());
                to.first = p;
            }
        });
    }

    // Indexes every pair of the current sequence that occurs at least `threshold` times
    // (every byte pair, as ever).
    void reindex(std::uint32_t threshold) {
        threshold_ = threshold;
        record_from_ = threshold;
        records_.resize(byte_records_);
        for (Record& record : records_) record.count = 0;
        table_.clear();
        queue_.clear();
        // The lists are rebuilt from the sequence; their old bytes would only add to the peak.
        arena_.release();
        const std::uint64_t n = seq_.size();
        {
            // Counting sorted keys takes 8 bytes per pair, far less than a record for every
            // distinct pair when most of them are rare.
            std::size_t pairs = 0;
            for (std::uint64_t q = seq_.next(0); q < n; q = seq_.next(q)) ++pairs;
            PageVector<std::uint64_t> keys;
            keys.reserve(pairs);
            for (std::uint64_t p = 0, q = seq_.next(0); q < n; p = q, q = seq_.next(q)) {
                keys.push_back(pair_key(seq_.at(p), seq_.at(q)));
            }
            std::sort(keys.begin(), keys.end());
            for (std::size_t begin = 0, end = 0; begin < keys.size(); begin = end) {
                while (end < keys.size() && keys[end] == keys[begin]) ++end;
                const auto count = static_cast<Position>(end - begin);
                const auto left = static_cast<std::uint32_t>(keys[begin] >> 32);
                const auto right = static_cast<std::uint32_t>(keys[begin]);
                if ((left | right) < 256) {
                    records_[byte_record_[(left << 8) | right]].count = count;
                } else if (count >= threshold) {
                    check(records_.size() < kMissing, "too many pairs to index");
                    table_.insert(keys[begin], static_cast<std::uint32_t>(records_.size()));
                    records_.push_back({left, right, count, count, 0});
                }
            }
        }
        std::size_t live = 0;
        for (Record& record : records_) {
            record.entries = record.count;
            live += record.count > 0;
        }
        queue_.reserve(live);
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            const Record& record = records_[i];
            if (record.count > 0) queue_.push(record.count, record.left, record.right, i);
        }
        // A pass for the size of every list, then one that writes them.
        PageVector<std::uint64_t> cursor(records_.size(), 0);
        PageVector<std::uint64_t> last(records_.size(), 0);
        for (std::uint64_t p = 0, q = seq_.next(0); q < n; p = q, q = seq_.next(q)) {
            const std::uint32_t index = find_record(seq_.at(p), seq_.at(q));
            if (index == kMissing) continue;
            cursor[index] += gap_size(p - last[index]);
            last[index] = p;
        }
        std::uint64_t offset = 0;
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            records_[i].offset = offset;
            offset += cursor[i];
            cursor[i] = records_[i].offset;
        }
        lay_out_arena(offset);
        std::fill(last.begin(), last.end(), std::uint64_t{0});
        for (std::uint64_t p = 0, q = seq_.next(0); q < n; p = q, q = seq_.next(q)) {
            const std::uint32_t index = find_record(seq_.at(p), seq_.at(q));
            if (index == kMissing) continue;
            PositionWriter writer(arena_.data() + cursor[index]);
            writer.resume_after(last[index]);
            writer.put(p);
            cursor[index] = static_cast<std::uint64_t>(writer.end() - arena_.data());
            last[index] = p;
        }
    }

    // Records and lists for the held-back pairs that still occur at least threshold_ times:
    // a pass over the sequence counts them, a second writes their lists. From then on every
    // pair formed that often gets its record at once.
    void index_held_pairs() {
        record_from_ = threshold_;
        PairTable<HeldKey> held(HeldKey{&held_});
        for (std::uint32_t i = 0; i < held_.size(); ++i) held.insert(held_[i], i);
        const std::uint64_t n = seq_.size();
        const auto each_held = [&](auto&& visit) {
            for (std::uint64_t p = 0, q = seq_.next(0); q < n; p = q, q = seq_.next(q)) {
                const std::uint32_t left = seq_.at(p);
                const std::uint32_t right = seq_.at(q);
                if ((left | right) < 256) continue;
                const std::uint32_t i = held.find(pair_key(left, right));
                if (i != kMissing) visit(i, p);
            }
        };
        PageVector<std::uint64_t> count(held_.size(), 0);
        PageVector<std::uint64_t> at(held_.size(), 0);  // list bytes, then the writing place
        PageVector<std::uint64_t> last(held_.size(), 0);
        each_held([&](std::uint32_t i, std::uint64_t p) {
            ++count[i];
            at[i] += gap_size(p - last[i]);
            last[i] = p;
        });
        std::uint64_t wanted = 0;
        for (std::size_t i = 0; i < held_.size(); ++i) {
            if (count[i] >= threshold_) wanted += at[i];
        }
        make_room(wanted);
        for (std::uint32_t i = 0; i < held_.size(); ++i) {
            if (count[i] < threshold_) {
                at[i] = kUntracked;
                continue;
            }
            const auto left = static_cast<std::uint32_t>(held_[i] >> 32);
            const auto right = static_cast<std::uint32_t>(held_[i]);
            check(records_.size() < kMissing, "too many pairs to index");
            const auto index = static_cast<std::uint32_t>(records_.size());
            const auto live = static_cast<Position>(count[i]);
            records_.push_back({left, right, live, live, arena_.size()});
            table_.insert(held_[i], index);
            queue_.push(live, left, right, index);
            const std::uint64_t bytes = at[i];
            at[i] = arena_.size();
            arena_.resize(arena_.size() + bytes);
            last[i] = 0;
        }
        each_held([&](std::uint32_t i, std::uint64_t p) {
            if (at[i] == kUntracked) return;
            PositionWriter writer(arena_.data() + at[i]);
            writer.resume_after(last[i]);
            writer.put(p);
            at[i] = static_cast<std::uint64_t>(writer.end() - arena_.data());
            last[i] = p;
        });
        held_.release();
        held_max_ = 0;
    }

    // The record with the highest count, smallest pair first among equals; kMissing when
    // no pair is left. Entries whose count has dropped since they were pushed go back in
    // with the live count.
    std::uint32_t pop_most_frequent() {
        for (;;) {
            while (!queue_.empty()) {
                const typename PairQueue::Entry& top = queue_.top();
                const Position live = records_[top.record].count;
                if (live == top.count) break;
                if (live > 0) {
                    queue_.lower_top(live);
                } else {
                    queue_.pop();
                }
            }
            // A held-back pair may occur as often as the top and come first among equals.
            if (!held_.empty() && (queue_.empty() || queue_.top().count <= held_max_)) {
                index_held_pairs();
                continue;
            }
            // Pairs without a record occur fewer than threshold_ times.
            if (threshold_ == 1 || (!queue_.empty() && queue_.top().count >= threshold_)) break;
            reindex(threshold_ / 2);
        }
        if (queue_.empty()) return kMissing;
        const std::uint32_t chosen = queue_.top().record;
        queue_.pop();
        return chosen;
    }

    // The best count never rises, so after the first step off the pool the buffers of the
    // pool's steps are not needed again.
    void release_pool_buffers() {
        for (std::size_t k = 1; k < stretches_.size(); ++k) stretches_[k] = Stretch();
    }

    // The serial step: one stretch, the whole sequence.
    void replace_all(std::uint32_t chosen, std::uint32_t id) {
        replace_in(stretches_[0], list_of(chosen), seq_.size(), records_[chosen], id);
        records_[chosen].count = 0;
    }

    // Left to right from `list`, up to (not including) slot `stop`, so that in runs like
    // x x x only non-overlapping occurrences merge. Pairs with the new id are only noted
    // here; index_formed_pairs counts them and, one look-up per distinct neighbour rather
    // than per occurrence, the pairs they replace. No slot at or past `stop` is read or
    // written: another stretch may be merging there.
    void replace_in(Stretch& stretch, PositionReader list, std::uint64_t stop, const Record& record,
                    std::uint32_t id) {
        const std::uint64_t n = seq_.size();
        FormedPairs& formed = stretch.formed;
        formed.clear();
        // A live slot holding an id starts that token, so where the pair's right token and the
        // token after it start follows from the ids' lengths, without reading the dead slots
        // that hold them, and only the slots from shortly before p to the end are prefetched.
        const std::uint64_t left_bytes = token_bytes_[record.left];
        const std::uint64_t pair_bytes = left_bytes + token_bytes_[record.right];
        const auto prefetch = [&](std::uint64_t p) { seq_.prefetch(p, pair_bytes); };
        walk(list, prefetch, [&](std::uint64_t p) {
            if (p >= stop) return false;
            if (seq_.at(p) != record.left) return true;
            const std::uint64_t q = p + left_bytes;
            if (q >= stop || seq_.at(q) != record.right) return true;
            const std::uint64_t end = p + pair_bytes;
            if (p > 0) {
                const std::uint64_t h = seq_.prev(p);
                const std::uint32_t before = seq_.at(h);
                // The previous occurrence ends here: its note (id, left) is undone.
                if (before == id) formed.retract_last();
                formed.note(FormedPairs::kIdRight, before, h);
            }
            if (end < n) formed.note(FormedPairs::kIdLeft, seq_.at(end), p);
            seq_.merge(p, q, end, id);
            return true;
        });
        summarize(stretch, id);
    }

    // replace_all on the pool. Of a list of E entries cut into T stretches, stretch k starts
    // at the first occurrence from entry k * E / T on whose token before is not `right`, so no
    // occurrence ends right before a stretch and no merge makes one end there: the stretches'
    // occurrences never touch, each stretch's merges, notes and retractions are those of the
    // serial walk, and no slot one stretch writes is read by another. Cutting the list rather
    // than the text gives each thread about as many occurrences: a pair's occurrences bunch
    // up in parts of a text, and an even cut of the text left one thread waiting for another.
    void replace_all_in_stretches(std::uint32_t chosen, std::uint32_t id) {
        const Record record = records_[chosen];
        const std::uint64_t n = seq_.size();
        const std::size_t parts = stretches_.size();
        // One pass over the list, before anything merges, finds every stretch's start and
        // where in the list its positions begin.
        PositionReader list = list_of(chosen);
        starts_.assign(parts + 1, n);
        starts_[0] = 0;
        // Stretches that no occurrence starts get nothing to read.
        const std::uint8_t* end = arena_.data() + end_of(chosen);
        from_.assign(parts, PositionReader(end, end));
        from_[0] = list;
        {
            const auto bound = [&](std::size_t part) {
                return std::uint64_t{record.entries} * part / parts;
            };
            // Entries before a stretch's first are only decoded, with no division per entry.
            std::uint64_t entry = 0;  // entries read
            for (std::size_t k = 1; k < parts;) {
                if (entry < bound(k)) entry += list.skip(bound(k) - entry);
                if (list.done()) break;
                const PositionReader here = list;
                const std::uint64_t p = list.next();
                ++entry;
                if (!seq_.holds(p, record.left, record.right) ||
                    (p > 0 && seq_.at(seq_.prev(p)) == record.right)) {
                    continue;
                }
                for (; k < parts && entry > bound(k); ++k) {
                    starts_[k] = p;
                    from_[k] = here;
                }
            }
        }
        parallel::WorkerPool::global().run_here(
            parts,
            [&](std::size_t k) { replace_in(stretches_[k], from_[k], starts_[k + 1], record, id); },
            kStepLinger);
        records_[chosen].count = 0;
    }

    // Groups a stretch's notes per pair and notes, per group, what joining the group's part
    // of the list to the parts before needs: its first and last position and the bytes of the
    // gaps between its positions.
    static void summarize(Stretch& stretch, std::uint32_t id) {
        stretch.formed.group(id + 1);
        stretch.parts.clear();
        for (const Group& group : stretch.formed.groups()) {
            const std::span<const Position> positions = stretch.formed.positions(group);
            stretch.parts.push_back(
                {positions.front(), positions.back(), gaps_size(positions), 0, 0});
        }
    }

    // Every occurrence of a pair with the new id was noted in this step, and every note
    // still holds, so a pair's count is the sum of its groups' sizes over the stretches.
    // The stretches' parts of a list are written side by side, on the pool when the step
    // ran there.
    void index_formed_pairs(std::uint32_t chosen_index, std::uint32_t id, std::size_t parts) {
        const Record chosen = records_[chosen_index];
        if (slot_pair_.size() < std::size_t{id + 1} * 2) {
            slot_pair_.resize(std::size_t{id + 1} * 2, kMissing);
        }
        formed_.clear();
        const auto pair_of = [&](const Group& group) -> Formed& {
            const std::size_t slot = std::size_t{group.other} * 2 + group.side;
            if (slot_pair_[slot] == kMissing) {
                slot_pair_[slot] = static_cast<std::uint32_t>(formed_.size());
                formed_.push_back({group.side, group.other, 0, 0, 0});
            }
            return formed_[slot_pair_[slot]];
        };
        for (std::size_t k = 0; k < parts; ++k) {
            const Stretch& stretch = stretches_[k];
            for (std::size_t g = 0; g < stretch.parts.size(); ++g) {
                const Group& group = stretch.formed.groups()[g];
                const Part& part = stretch.parts[g];
                Formed& pair = pair_of(group);
                pair.count += group.end - group.begin;
                pair.bytes += gap_size(part.first - pair.last) + part.inner;
                pair.last = part.last;
            }
        }
        // (other, id) replaced (other, left), and (id, other) replaced (right, other).
        // A retracted (id, left) replaced (right, left); its occurrence became (id, id).
        const auto replaced = [&](const Formed& pair) {
            return pair.side == FormedPairs::kIdLeft
                       ? pair_key(chosen.right, pair.other)
                       : pair_key(pair.other == id ? chosen.right : pair.other, chosen.left);
        };
        // Their records are looked up in passes, each prefetching what the next reads: one at
        // a time, each look-up waited for a slot and then a record at random places.
        hashes_.resize(formed_.size());
        for (std::size_t i = 0; i < formed_.size(); ++i) {
            const std::uint64_t key = replaced(formed_[i]);
            hashes_[i] = bytes_only(key) ? 0 : table_.hash_ahead(key);
        }
        for (std::size_t i = 0; i < formed_.size(); ++i) {
            if (bytes_only(replaced(formed_[i]))) continue;
            const std::uint32_t value = table_.first_value(hashes_[i]);
            if (value != kMissing) __builtin_prefetch(&records_[value]);
        }
        std::uint64_t wanted = 0;
        for (std::size_t i = 0; i < formed_.size(); ++i) {
            const Formed& pair = formed_[i];
            const std::uint64_t key = replaced(pair);
            const std::uint32_t index =
                bytes_only(key) ? byte_record_[(key >> 24 | key) & 0xFFFF]  // (left << 8) | right
                                : table_.find_hashed(key, hashes_[i]);
            // The chosen pair is spent whatever it loses; a pair without a record was formed
            // rarely and is not tracked.
            if (index != kMissing && index != chosen_index) {
                records_[index].count -= static_cast<Position>(pair.count);
            }
            if (pair.count >= record_from_) wanted += pair.bytes;
        }
        make_room(wanted);
        for (Formed& pair : formed_) {
            pair.last = 0;
            const bool id_left = pair.side == FormedPairs::kIdLeft;
            const std::uint32_t left = id_left ? id : pair.other;
            const std::uint32_t right = id_left ? pair.other : id;
            if (pair.count < record_from_) {
                pair.at = kUntracked;
                if (pair.count >= threshold_) {
                    held_.push_back(pair_key(left, right));
                    held_max_ = std::max(held_max_, pair.count);
                }
                continue;
            }
            check(records_.size() < kMissing, "too many pairs to index");
            const auto index = static_cast<std::uint32_t>(records_.size());
            const auto count = static_cast<Position>(pair.count);
            records_.push_back({left, right, count, count, arena_.size()});
            table_.insert(pair_key(left, right), index);
            queue_.push(count, left, right, index);
            pair.at = arena_.size();
            arena_.resize(arena_.size() + pair.bytes);
        }
        // Where each stretch's part of each list goes, and the position it follows.
        for (std::size_t k = 0; k < parts; ++k) {
            Stretch& stretch = stretches_[k];
            for (std::size_t g = 0; g < stretch.parts.size(); ++g) {
                Part& part = stretch.parts[g];
                Formed& pair = pair_of(stretch.formed.groups()[g]);
                part.at = pair.at;
                part.after = pair.last;
                if (pair.at == kUntracked) continue;
                pair.at += gap_size(part.first - pair.last) + part.inner;
                pair.last = part.last;
            }
        }
        for (const Formed& pair : formed_) {
            slot_pair_[std::size_t{pair.other} * 2 + pair.side] = kMissing;
        }
        const auto write_parts = [&](std::size_t k) {
            const Stretch& stretch = stretches_[k];
            for (std::size_t g = 0; g < stretch.parts.size(); ++g) {
                const Part& part = stretch.parts[g];
                if (part.at == kUntracked) continue;
                PositionWriter writer(arena_.data() + part.at);
                writer.resume_after(part.after);
                // A wide store may run into the bytes of the next three positions.
                const std::span<const Position> positions =
                    stretch.formed.positions(stretch.formed.groups()[g]);
                std::size_t i = 0;
                for (; i + 3 < positions.size(); ++i) writer.put_ahead(positions[i]);
                for (; i < positions.size(); ++i) writer.put(positions[i]);
            }
        };
        if (parts == 1) {
            write_parts(0);
        } else {
            parallel::WorkerPool::global().run_here(parts, write_parts, kStepLinger);
        }
    }

    // Bytes of the structures that grow by one entry per tracked pair.
    std::uint64_t pair_bytes() const {
        return records_.size() * sizeof(Record) + queue_.bytes() + table_.bytes();
    }

    // The lists' bytes, and three quarters more as slack that lets merge steps append lists
    // for a while before the arena is compacted (with half, compacting took a fifth of one
    // thread's time on prose). The arena and the per-pair structures then share one budget,
    // so that the records made later take their room from the arena's slack rather than
    // adding to the peak.
    void lay_out_arena(std::uint64_t bytes) {
        arena_.reserve(bytes + bytes * 3 / 4 + 64);
        arena_.resize(bytes);
        budget_ = arena_.capacity() + pair_bytes();
    }

    // Dropping the lists of spent pairs, and failing that the stale positions of live ones,
    // usually makes room. Dropping only the spent lists moves the arena but reads no list, so
    // it is done while it frees an eighth; checking stale positions reads the sequence at
    // random places, so that way must leave a quarter free, or the next steps would do it
    // again at once. When it does not, the live lists have outgrown the budget, and from then
    // on the arena grows by half whenever compacting leaves it short: the records would
    // otherwise squeeze it ever more.
    void make_room(std::uint64_t wanted) {
        const std::uint64_t size = arena_.size();
        const std::uint64_t others = pair_bytes();
        const std::uint64_t limit = budget_ == kNoBudget ? arena_.capacity()
                                    : budget_ > others   ? budget_ - others
                                                         : 0;
        const auto free_below = [&](std::uint64_t used) { return used < limit ? limit - used : 0; };
        if (free_below(size) >= wanted) return;
        std::uint64_t spent = 0;
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            if (records_[i].count == 0) spent += end_of(i) - records_[i].offset;
        }
        const std::uint64_t cheap = free_below(size - spent);
        if (cheap >= wanted && cheap >= limit / 8) {
            compact(false, 0);
        } else {
            const std::uint64_t room = std::max(wanted, limit / 4);
            compact(true, limit > room ? limit - room : 0);
            if (free_below(arena_.size()) < room) {
                budget_ = kNoBudget;
                arena_.reserve(arena_.size() + wanted + arena_.size() / 2);
            }
        }
    }

    // Rewrites the arena in place, keeping the lists of live pairs; with drop_stale, the
    // lists that are at least half stale first keep only the positions where their pair
    // still stands, each within its own bytes (checking a position costs a read at a random
    // place of the sequence, so with a pool the lists are shared among the stretches'
    // workers; on one thread each list moves right after it is filtered, while its bytes are
    // still in cache). Then every list moves towards the front. On one thread, when the byte
    // pairs' lists were rewritten from the sequence and the live lists then fit in `enough`
    // bytes, the other lists keep their stale positions: a walk skips them at the cost of the
    // read that checking them takes, and only if their pair is ever chosen (on prose to 8k,
    // one thread ran 3 to 5 % faster without those checks).
    void compact(bool drop_stale, std::uint64_t enough) {
        lengths_.resize(records_.size());
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            lengths_[i] = end_of(i) - records_[i].offset;
        }
        const bool on_pool = drop_stale && stretches_.size() > 1;
        const bool swept = drop_stale && !on_pool && sweep_byte_pair_lists();
        if (swept) {
            std::uint64_t live = 0;
            for (std::uint32_t i = 0; i < records_.size(); ++i) {
                if (records_[i].count > 0) live += lengths_[i];
            }
            drop_stale = live > enough;
        }
        if (on_pool) {
            // More pieces than threads, handed out as threads come free: how much of a
            // piece is stale, and so how much of the sequence it reads, varies.
            const std::size_t parts = stretches_.size() * kCompactPieces;
            parallel::WorkerPool::global().run_here(parts, [&](std::size_t k) {
                const auto first = [&](std::size_t part) {
                    const std::uint64_t at = arena_.size() * part / parts;
                    return std::partition_point(records_.begin(), records_.end(),
                                                [&](const Record& r) { return r.offset < at; }) -
                           records_.begin();
                };
                for (auto i = first(k); i < first(k + 1); ++i) {
                    drop_stale_positions(static_cast<std::uint32_t>(i));
                }
            });
        }
        std::uint64_t write = 0;
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            Record& record = records_[i];
            const std::uint64_t read = record.offset;
            if (record.count == 0) {
                record.offset = write;
                continue;
            }
            if (drop_stale && !on_pool && !(swept && i < byte_records_)) {
                drop_stale_positions(i);
            }
            record.offset = write;
            std::memmove(arena_.data() + write, arena_.data() + read, lengths_[i]);
            write += lengths_[i];
        }
        arena_.resize(write);
        arena_.trim();
        // Between compactions the lengths would only add to the peak.
        lengths_.release();
    }

    // A byte pair stands at p exactly where slots p and p + 1 both hold bytes, so one pass over
    // the sequence, reading it in order, rewrites every byte pair's list with the positions
    // where it still stands. Done instead of checking the byte pairs' stale positions when
    // those are at least an eighth as many as the slots: each check reads the sequence at a
    // random place, and on prose to 8k the byte pairs' lists held 2 of the 3.4 million checked.
    // Each list is rewritten within its own bytes (a list of some of its positions is never
    // longer). False when the checks are fewer.
    bool sweep_byte_pair_lists() {
        std::uint64_t stale = 0;
        for (std::size_t i = 0; i < byte_records_; ++i) {
            const Record& record = records_[i];
            if (record.count > 0 && record.entries - record.count >= record.count) {
                stale += record.entries;
            }
        }
        const std::uint64_t n = seq_.size();
        if (stale < n / 8) return false;
        // Until the pass ends, lengths_ holds where each list is written.
        PageVector<std::uint64_t> last(byte_records_, 0);
        for (std::size_t i = 0; i < byte_records_; ++i) lengths_[i] = records_[i].offset;
        std::uint64_t kept = 0;
        for (std::uint64_t p = 0; p + 1 < n; ++p) {
            const std::uint32_t left = seq_.at(p);
            const std::uint32_t right = seq_.at(p + 1);
            if ((left | right) >= 256) continue;
            const std::uint32_t i = byte_record_[(left << 8) | right];
            PositionWriter writer(arena_.data() + lengths_[i]);
            writer.resume_after(last[i]);
            writer.put(p);
            lengths_[i] = static_cast<std::uint64_t>(writer.end() - arena_.data());
            last[i] = p;
            ++kept;
        }
        std::uint64_t live = 0;
        for (std::size_t i = 0; i < byte_records_; ++i) {
            Record& record = records_[i];
            live += record.count;
            record.entries = record.count;
            lengths_[i] -= record.offset;
        }
        check(kept == live, "pair index lost an occurrence");
        return true;
    }

    // A kept position's gap spans the gaps of the positions dropped before it and takes no
    // more bytes than they did, so writing never overtakes reading.
    void drop_stale_positions(std::uint32_t i) {
        Record& record = records_[i];
        if (record.count == 0 || record.entries - record.count < record.count) return;
        std::uint8_t* begin = arena_.data() + record.offset;
        PositionWriter writer(begin);
        std::uint64_t kept = 0;
        walk(PositionReader(begin, begin + lengths_[i]), [&](std::uint64_t p) {
            if (!seq_.holds(p, record.left, record.right)) return true;
            writer.put(p);
            ++kept;
            return true;
        });
        check(kept == record.count, "pair index lost an occurrence");
        record.entries = static_cast<Position>(kept);
        lengths_[i] = static_cast<std::uint64_t>(writer.end() - begin);
    }

    TokenSequence seq_;
    std::vector<std::uint64_t> token_bytes_ = std::vector<std::uint64_t>(256, 1);  // per id
    ListArena arena_;
    PageVector<std::uint64_t> lengths_;  // per record, the bytes of its list while compacting
    PageVector<Record> records_;
    PageVector<std::uint32_t> byte_record_;  // byte pair key -> record, or kMissing
    std::size_t byte_records_ = 0;
    PairTable<RecordKey> table_;
    PairQueue queue_;
    // Bytes for the arena and pair_bytes() together, or kNoBudget once outgrown.
    std::uint64_t budget_ = 0;
    std::vector<Formed> formed_;
    std::vector<std::uint64_t> hashes_;  // per formed pair, of the pair it replaced
    std::vector<std::uint32_t> slot_pair_;  // 2 * other + side -> index in formed_
    // Pairs without a record occur fewer than threshold_ times, or are held back.
    std::uint32_t threshold_;
    // Pairs formed at least this often (twice the first threshold) get a record in the step
    // that forms them. Those formed fewer times but at least threshold_ times are held back,
    // their counts unknown but never above held_max_ (a pair forms in one step only, and its
    // count then only falls), until the top count reaches held_max_. On prose and mixed text
    // that never happens, and their records, queue entries and lists cost one thread about
    // 4 % of its time on prose to 8k.
    std::uint32_t record_from_;
    PageVector<std::uint64_t> held_;  // their pair keys
    std::uint64_t held_max_ = 0;
    std::vector<Stretch> stretches_;
    std::vector<std::uint64_t> starts_;  // per stretch of a step on the pool, and the end
    std::vector<PositionReader> from_;  // per stretch, its part of the chosen pair's list
};

}  // namespace

std::optional<std::vector<LearnedMerge>> learn_merges(std::span<const std::uint8_t> bytes,
                                                      std::uint64_t max_merges,
                                                      std::uint64_t num_threads,
                                                      const TrainProgress& progress) {
    if (max_merges == 0 || bytes.size() < 2) {
        if (progress && !progress(0, max_merges)) return std::nullopt;
        return std::vector<LearnedMerge>{};
    }
    const auto learn = [&](auto&& learner) -> std::optional<std::vector<LearnedMerge>> {
        const auto keep_going = [&] { return !progress || progress(0, max_merges); };
        if (!learner.index(bytes, num_threads, keep_going)) return std::nullopt;
        return learner.run(max_merges, progress);
    };
    if (bytes.size() <= kNarrowPositions) {
        return learn(MergeLearner<std::uint32_t>(bytes, max_merges, num_threads));
    }
    return learn(MergeLearner<std::uint64_t>(bytes, max_merges, num_threads));
}

}  // namespace tessaron::basic
