#include "tokenizer/basic/merge_learner.hpp"

#include <algorithm>

#include "tokenizer/basic/byte_pair_counts.hpp"
#include "tokenizer/basic/formed_pairs.hpp"
#include "tokenizer/basic/pair_queue.hpp"
#include "tokenizer/basic/pair_table.hpp"
#include "tokenizer/basic/token_sequence.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::basic {

namespace {

constexpr std::uint64_t pair_key(std::uint32_t left, std::uint32_t right) {
    return (std::uint64_t{left} << 32) | right;
}

// One pair's count and where its positions lie in the arena. Records lie in arena order,
// so a record's positions end where the next record's begin.
struct Record {
    std::uint32_t left;
    std::uint32_t right;
    std::uint32_t offset;
    std::uint32_t count;  // at most one per text byte, so below 2^31
};

struct RecordKey {
    const std::vector<Record>* records;
    std::uint64_t operator()(std::uint32_t index) const {
        const Record& record = (*records)[index];
        return pair_key(record.left, record.right);
    }
};

class MergeLearner {
public:
    MergeLearner(std::span<const std::uint8_t> bytes, std::uint64_t num_threads)
        : seq_(bytes), table_(RecordKey{&records_}) {
        const bool chunked = num_threads >= 2 && bytes.size() >= num_threads;
        index_byte_pairs(
            bytes, chunked ? count_pairs_chunked(bytes, num_threads) : count_byte_pairs(bytes));
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
            replace_all(chosen, id);
            index_formed_pairs(chosen, id);
            learned.push_back({record.left, record.right});
        }
        if (progress && !progress(learned.size(), max_merges)) return std::nullopt;
        return learned;
    }

private:
    static constexpr std::uint32_t kMissing = ~std::uint32_t{0};
    // Pairs that a merge forms fewer times than this get no record until the best count
    // falls below it, and then the threshold halves: most formed pairs are rare, and their
    // records would dominate memory.
    static constexpr std::uint32_t kFirstThreshold = 4;
    // How far ahead list walks prefetch the sequence.
    static constexpr std::uint32_t kLookahead = 16;

    std::uint32_t find_record(std::uint32_t left, std::uint32_t right) const {
        if ((left | right) < 256) return (left << 8) | right;
        return table_.find(pair_key(left, right));
    }

    std::uint32_t end_of(std::uint32_t index) const {
        return index + 1 < records_.size() ? records_[index + 1].offset
                                           : static_cast<std::uint32_t>(arena_.size());
    }

    void index_byte_pairs(std::span<const std::uint8_t> bytes, const BytePairCounts& counts) {
        const std::size_t pairs = bytes.size() - 1;
        // Live positions never exceed the pairs of the text; the slack lets several merge
        // steps append before the arena must be compacted.
        arena_.reserve(pairs + pairs / 2 + 64);
        arena_.resize(pairs);
        records_.resize(kBytePairs);
        std::vector<std::uint32_t> cursor(kBytePairs);
        std::uint32_t offset = 0;
        for (std::uint32_t k = 0; k < kBytePairs; ++k) {
            const auto count = static_cast<std::uint32_t>(counts[k]);
            records_[k] = {k >> 8, k & 0xFF, offset, count};
            cursor[k] = offset;
            offset += count;
            if (count > 0) queue_.push(count, k >> 8, k & 0xFF, k);
        }
        check(offset == pairs, "byte pair counts do not add up to the text");
        for (std::size_t p = 0; p < pairs; ++p) {
            const std::size_t k = (static_cast<std::size_t>(bytes[p]) << 8) | bytes[p + 1];
            arena_[cursor[k]++] = static_cast<std::uint32_t>(p);
        }
    }

    // Indexes every pair of the current sequence that occurs at least `threshold` times
    // (every byte pair, as ever).
    void reindex(std::uint32_t threshold) {
        threshold_ = threshold;
        records_.resize(kBytePairs);
        for (Record& record : records_) record.count = 0;
        table_.clear();
        queue_.clear();
        const std::uint32_t n = seq_.size();
        {
            // Counting sorted keys takes 8 bytes per pair, far less than a record for every
            // distinct pair when most of them are rare.
            std::size_t pairs = 0;
            for (std::uint32_t q = seq_.next(0); q < n; q = seq_.next(q)) ++pairs;
            std::vector<std::uint64_t> keys;
            keys.reserve(pairs);
            for (std::uint32_t p = 0, q = seq_.next(0); q < n; p = q, q = seq_.next(q)) {
                keys.push_back(pair_key(seq_.at(p), seq_.at(q)));
            }
            std::sort(keys.begin(), keys.end());
            for (std::size_t begin = 0, end = 0; begin < keys.size(); begin = end) {
                while (end < keys.size() && keys[end] == keys[begin]) ++end;
                const auto count = static_cast<std::uint32_t>(end - begin);
                const auto left = static_cast<std::uint32_t>(keys[begin] >> 32);
                const auto right = static_cast<std::uint32_t>(keys[begin]);
                if ((left | right) < 256) {
                    records_[(left << 8) | right].count = count;
                } else if (count >= threshold) {
                    table_.insert(keys[begin], static_cast<std::uint32_t>(records_.size()));
                    records_.push_back({left, right, 0, count});
                }
            }
        }
        std::uint32_t offset = 0;
        std::size_t live = 0;
        for (Record& record : records_) {
            record.offset = offset;
            offset += record.count;
            live += record.count > 0;
        }
        queue_.reserve(live);
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            const Record& record = records_[i];
            if (record.count > 0) queue_.push(record.count, record.left, record.right, i);
        }
        arena_.resize(offset);
        // Offsets serve as cursors while the positions go in, then are set back.
        for (std::uint32_t p = 0, q = seq_.next(0); q < n; p = q, q = seq_.next(q)) {
            const std::uint32_t index = find_record(seq_.at(p), seq_.at(q));
            if (index != kMissing) arena_[records_[index].offset++] = p;
        }
        for (Record& record : records_) record.offset -= record.count;
    }

    // The record with the highest count, smallest pair first among equals; kMissing when
    // no pair is left. Entries whose count has dropped since they were pushed go back in
    // with the live count.
    std::uint32_t pop_most_frequent() {
        for (;;) {
            while (!queue_.empty()) {
                const PairQueue::Entry& top = queue_.top();
                const std::uint32_t live = records_[top.record].count;
                if (live == top.count) break;
                if (live > 0) {
                    queue_.lower_top(live);
                } else {
                    queue_.pop();
                }
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

    // Left to right, so that in runs like x x x only non-overlapping occurrences merge.
    // Pairs with the new id are only noted here; index_formed_pairs counts them and, one
    // look-up per distinct neighbour rather than per occurrence, the pairs they replace.
    void replace_all(std::uint32_t chosen, std::uint32_t id) {
        const Record record = records_[chosen];
        const std::uint32_t n = seq_.size();
        formed_.clear();
        const std::uint32_t end_of_list = end_of(chosen);
        for (std::uint32_t i = record.offset; i < end_of_list; ++i) {
            if (i + kLookahead < end_of_list) seq_.prefetch(arena_[i + kLookahead]);
            const std::uint32_t p = arena_[i];
            if (!seq_.holds(p, record.left, record.right)) continue;
            const std::uint32_t q = seq_.next(p);
            const std::uint32_t end = seq_.next(q);
            if (p > 0) {
                const std::uint32_t h = seq_.prev(p);
                const std::uint32_t before = seq_.at(h);
                // The previous occurrence ends here: its note (id, left) is undone.
                if (before == id) formed_.retract_last();
                formed_.note(FormedPairs::kIdRight, before, h);
            }
            if (end < n) formed_.note(FormedPairs::kIdLeft, seq_.at(end), p);
            seq_.merge(p, q, end, id);
        }
        records_[chosen].count = 0;
    }

    // The chosen pair is spent whatever it loses; a pair without a record was formed
    // rarely and is not tracked.
    void drop(std::uint32_t left, std::uint32_t right, std::uint32_t count, std::uint32_t chosen) {
        const std::uint32_t index = find_record(left, right);
        if (index != kMissing && index != chosen) records_[index].count -= count;
    }

    // Every occurrence of a pair with the new id was noted in this step, and every note
    // still holds, so a group's size is its pair's count.
    void index_formed_pairs(std::uint32_t chosen_index, std::uint32_t id) {
        make_room(formed_.size());
        const Record chosen = records_[chosen_index];
        formed_.for_each_group(id + 1, [&](FormedPairs::Side side, std::uint32_t other,
                                           std::span<const std::uint32_t> positions) {
            const auto count = static_cast<std::uint32_t>(positions.size());
            // (other, id) replaced (other, left), and (id, other) replaced (right, other).
            // A retracted (id, left) replaced (right, left); its occurrence became (id, id).
            if (side == FormedPairs::kIdLeft) {
                drop(chosen.right, other, count, chosen_index);
            } else {
                drop(other == id ? chosen.right : other, chosen.left, count, chosen_index);
            }
            if (count < threshold_) return;
            const std::uint32_t left = side == FormedPairs::kIdLeft ? id : other;
            const std::uint32_t right = side == FormedPairs::kIdLeft ? other : id;
            const auto index = static_cast<std::uint32_t>(records_.size());
            records_.push_back({left, right, static_cast<std::uint32_t>(arena_.size()), count});
            arena_.insert(arena_.end(), positions.begin(), positions.end());
            table_.insert(pair_key(left, right), index);
            queue_.push(count, left, right, index);
        });
    }

    // Live positions never exceed the arena's capacity, so dropping the lists of spent
    // pairs, and failing that the stale positions of live ones, always makes room.
    void make_room(std::size_t wanted) {
        if (arena_.capacity() - arena_.size() >= wanted) return;
        compact(false);
        if (arena_.capacity() - arena_.size() >= wanted) return;
        compact(true);
    }

    // Rewrites the arena in place, keeping the lists of live pairs (with check_positions,
    // only the positions where the pair still stands); every list moves towards the front.
    void compact(bool check_positions) {
        std::uint32_t write = 0;
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            const std::uint32_t read = records_[i].offset;
            const std::uint32_t read_end = end_of(i);
            Record& record = records_[i];
            record.offset = write;
            if (record.count == 0) continue;
            if (!check_positions) {
                std::copy(arena_.begin() + read, arena_.begin() + read_end, arena_.begin() + write);
                write += read_end - read;
                continue;
            }
            for (std::uint32_t r = read; r < read_end; ++r) {
                if (r + kLookahead < read_end) seq_.prefetch(arena_[r + kLookahead]);
                const std::uint32_t p = arena_[r];
                if (seq_.holds(p, record.left, record.right)) arena_[write++] = p;
            }
            check(write - record.offset == record.count, "pair index lost an occurrence");
        }
        arena_.resize(write);
    }

    TokenSequence seq_;
    std::vector<std::uint32_t> arena_;
    std::vector<Record> records_;
    PairTable<RecordKey> table_;
    PairQueue queue_;
    FormedPairs formed_;
    std::uint32_t threshold_ = kFirstThreshold;
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
    MergeLearner learner(bytes, num_threads);
    return learner.run(max_merges, progress);
}

}  // namespace tessaron::basic
