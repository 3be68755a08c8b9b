#include "tokenizer/pretok/piece_merge_learner.hpp"

#include <algorithm>
#include <queue>

#include "support/internal_failure.hpp"
#include "tokenizer/basic/pair_table.hpp"

namespace tessaron::pretok {

namespace {

// The distinct pieces laid end to end as linked symbols. A pair's record lists the positions
// where it was formed; a position may since have changed, so each is checked before use.
// Counts are weighted by the occurrences of the piece that holds the position. A symbol's
// links and piece sit beside it, and pairs find their records in a flat table: merging is
// bound by memory reads at scattered positions, one cache line each.
class PieceMergeLearner {
public:
    explicit PieceMergeLearner(std::span<const PieceCount> pieces) : index_(RecordKey{&records_}) {
        std::size_t total = 0;
        for (const PieceCount& piece : pieces) {
            if (piece.bytes.size() >= 2) total += piece.bytes.size();
        }
        check(total < kNone, "the distinct pieces are too long to train on");
        at_.reserve(total);
        for (const PieceCount& piece : pieces) {
            if (piece.bytes.size() < 2) continue;  // no pair inside
            const auto index = static_cast<std::uint32_t>(weight_.size());
            weight_.push_back(piece.count);
            const auto first = static_cast<std::uint32_t>(at_.size());
            for (std::size_t k = 0; k < piece.bytes.size(); ++k) {
                const auto p = static_cast<std::uint32_t>(at_.size());
                at_.push_back({static_cast<unsigned char>(piece.bytes[k]),
                               k + 1 == piece.bytes.size() ? kNone : p + 1, k == 0 ? kNone : p - 1,
                               index});
            }
            for (std::uint32_t p = first; at_[p].next != kNone; ++p) {
                add(at_[p].symbol, at_[p + 1].symbol, piece.count, p);
            }
        }
        for (std::uint32_t r = 0; r < records_.size(); ++r) push(r);
    }

    std::optional<std::vector<basic::LearnedMerge>> run(std::uint64_t max_merges,
                                                        const basic::TrainProgress& progress) {
        std::vector<basic::LearnedMerge> learned;
        while (learned.size() < max_merges) {
            const std::uint32_t chosen = pop_most_frequent();
            if (chosen == kNone) break;
            const auto id = static_cast<std::uint32_t>(256 + learned.size());
            learned.push_back({records_[chosen].left, records_[chosen].right});
            merge(chosen, id);
            if (progress && !progress(learned.size(), max_merges)) return std::nullopt;
        }
        return learned;
    }

private:
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};
    static constexpr std::size_t kAhead = 16;

    struct Record {
        std::uint32_t left;
        std::uint32_t right;
        std::uint64_t count;
        std::vector<std::uint32_t> positions;
    };

    struct Position {
        std::uint32_t symbol;  // kNone once merged into the symbol before it
        std::uint32_t next;
        std::uint32_t prev;
        std::uint32_t piece;
    };

    struct RecordKey {
        const std::vector<Record>* records;
        std::uint64_t operator()(std::uint32_t r) const {
            const Record& record = (*records)[r];
            return key(record.left, record.right);
        }
    };

    struct Entry {
        std::uint64_t count;
        std::uint32_t left;
        std::uint32_t right;
        std::uint32_t record;
        // Highest count on top, then the smallest pair.
        friend bool operator<(const Entry& a, const Entry& b) {
            if (a.count != b.count) return a.count < b.count;
            if (a.left != b.left) return a.left > b.left;
            return a.right > b.right;
        }
    };

    static std::uint64_t key(std::uint32_t left, std::uint32_t right) {
        return (std::uint64_t{left} << 32) | right;
    }

    std::uint32_t record_of(std::uint32_t left, std::uint32_t right) {
        const std::uint64_t k = key(left, right);
        std::uint32_t r = index_.find(k);
        if (r == Index::kMissing) {
            r = static_cast<std::uint32_t>(records_.size());
            records_.push_back({left, right, 0, {}});
            index_.insert(k, r);
        }
        return r;
    }

    void add(std::uint32_t left, std::uint32_t right, std::uint64_t weight, std::uint32_t p) {
        const std::uint32_t r = record_of(left, right);
        records_[r].count += weight;
        records_[r].positions.push_back(p);
        if (touched_stamp_.size() <= r) touched_stamp_.resize(records_.size(), 0);
        if (touched_stamp_[r] != stamp_) {
            touched_stamp_[r] = stamp_;
            touched_.push_back(r);
        }
    }

    void drop(std::uint32_t left, std::uint32_t right, std::uint64_t weight) {
        records_[index_.find(key(left, right))].count -= weight;
    }

    void push(std::uint32_t r) {
        const Record& record = records_[r];
        if (record.count > 0) queue_.push({record.count, record.left, record.right, r});
    }

    // Entries whose count has changed since they were pushed go back with the live count;
    // every pair whose count grew was pushed again when it grew.
    std::uint32_t pop_most_frequent() {
        while (!queue_.empty()) {
            const Entry top = queue_.top();
            queue_.pop();
            const std::uint64_t live = records_[top.record].count;
            if (live == top.count) return top.record;
            if (live > 0 && live < top.count) push(top.record);
        }
        return kNone;
    }

    // Left to right within each piece, so that in runs like x x x only non-overlapping
    // occurrences merge.
    void merge(std::uint32_t chosen, std::uint32_t id) {
        const std::uint32_t left = records_[chosen].left;
        const std::uint32_t right = records_[chosen].right;
        std::vector<std::uint32_t> positions = std::move(records_[chosen].positions);
        records_[chosen].positions = {};
        if (left == right) std::sort(positions.begin(), positions.end());
        ++stamp_;
        touched_.clear();
        for (std::size_t i = 0; i < positions.size(); ++i) {
            // The positions are scattered: ask for one well ahead while this one is read.
            if (i + kAhead < positions.size()) __builtin_prefetch(&at_[positions[i + kAhead]]);
            const std::uint32_t p = positions[i];
            Position& at_p = at_[p];
            if (at_p.symbol != left) continue;
            const std::uint32_t q = at_p.next;
            if (q == kNone || at_[q].symbol != right) continue;
            const std::uint64_t weight = weight_[at_p.piece];
            const std::uint32_t a = at_p.prev;
            const std::uint32_t b = at_[q].next;
            records_[chosen].count -= weight;
            if (a != kNone) drop(at_[a].symbol, left, weight);
            if (b != kNone) drop(right, at_[b].symbol, weight);
            at_p.symbol = id;
            at_[q].symbol = kNone;
            at_p.next = b;
            if (b != kNone) at_[b].prev = p;
            if (a != kNone) add(at_[a].symbol, id, weight, a);
            if (b != kNone) add(id, at_[b].symbol, weight, p);
        }
        check(records_[chosen].count == 0, "a merged pair is left over");
        for (const std::uint32_t r : touched_) push(r);
    }

    using Index = basic::PairTable<RecordKey>;

    std::vector<Position> at_;
    std::vector<std::uint64_t> weight_;
    std::vector<Record> records_;
    Index index_;
    std::priority_queue<Entry> queue_;
    std::vector<std::uint32_t> touched_;
    std::vector<std::uint64_t> touched_stamp_;
    std::uint64_t stamp_ = 1;
};

}  // namespace

std::optional<std::vector<basic::LearnedMerge>> learn_piece_merges(
    std::span<const PieceCount> pieces, std::uint64_t max_merges,
    const basic::TrainProgress& progress) {
    if (max_merges == 0) return std::vector<basic::LearnedMerge>{};
    PieceMergeLearner learner(pieces);
    return learner.run(max_merges, progress);
}

std::optional<std::vector<basic::LearnedMerge>> learn_piece_merges(
    SplitPattern pattern, std::string_view text, std::uint64_t max_merges, std::uint64_t threads,
    const basic::TrainProgress& progress) {
    if (max_merges == 0) return std::vector<basic::LearnedMerge>{};
    return learn_piece_merges(count_pieces(pattern, text, threads), max_merges, progress);
}

}  // namespace tessaron::pretok
