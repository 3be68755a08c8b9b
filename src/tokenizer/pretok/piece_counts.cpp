#include "tokenizer/pretok/piece_counts.hpp"

#include "parallel/worker_pool.hpp"
#include "support/random_seed.hpp"
#include "support/string_index.hpp"
#include "tokenizer/pretok/splitter.hpp"

namespace tessaron::pretok {

namespace {

bool ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The first position from `from` where a space follows an ASCII letter, or the end. Every
// pattern ends a piece there: no piece that holds a letter reaches past the letters and a
// contraction, and the text after the cut splits as it would without it.
std::size_t cut_from(std::string_view text, std::size_t from) {
    for (std::size_t p = from < 1 ? 1 : from; p < text.size(); ++p) {
        if (text[p] == ' ' && ascii_letter(text[p - 1])) return p;
    }
    return text.size();
}

// Counts of pieces, which stay in the text counted.
using PieceTable = StringIndex<std::uint64_t>;

// A thread's table, on cache lines of its own: each new piece writes the table's count, which
// sits beside what every look-up of a neighbouring table reads.
struct alignas(64) ThreadTable {
    PieceTable table;
};
constexpr std::size_t kFirstSize = 512;

void count_into(PieceTable& table, const SplitPattern& pattern, std::string_view text) {
    for_each_piece(pattern, text, [&](std::size_t begin, std::size_t end) {
        ++table[text.substr(begin, end - begin)];
    });
}

}  // namespace

std::vector<PieceCount> count_pieces(SplitPattern pattern, std::string_view text,
                                     std::uint64_t threads) {
    std::vector<ThreadTable> tables;
    const std::uint64_t seed = random_seed();
    // Cutting the text is safe for the scanners' patterns only: another pattern may match
    // across any cut, or anchor at the start of a part.
    if (threads >= 2 && text.size() >= 2 * threads && pattern.scanner()) {
        // More parts than threads, so that an unlucky cut does not leave one thread all.
        const std::size_t parts = static_cast<std::size_t>(threads) * 4;
        std::vector<std::size_t> cuts{0};
        for (std::size_t k = 1; k < parts; ++k) {
            const std::size_t cut = cut_from(text, text.size() / parts * k);
            if (cut > cuts.back() && cut < text.size()) cuts.push_back(cut);
        }
        cuts.push_back(text.size());
        tables.assign(cuts.size() - 1, ThreadTable{PieceTable(kFirstSize, seed)});
        parallel::WorkerPool::global().run(tables.size(), [&](std::size_t k) {
            count_into(tables[k].table, pattern, text.substr(cuts[k], cuts[k + 1] - cuts[k]));
        });
        PieceTable& all = tables[0].table;
        for (std::size_t k = 1; k < tables.size(); ++k) {
            tables[k].table.for_each(
                [&](std::string_view piece, std::uint64_t count) { all[piece] += count; });
            tables[k].table = PieceTable(0, seed);
        }
    } else {
        tables.push_back(ThreadTable{PieceTable(kFirstSize, seed)});
        count_into(tables[0].table, pattern, text);
    }
    const PieceTable& all = tables[0].table;
    std::vector<PieceCount> pieces;
    pieces.reserve(all.size());
    all.for_each(
        [&](std::string_view piece, std::uint64_t count) { pieces.push_back({piece, count}); });
    return pieces;
}

}  // namespace tessaron::pretok
