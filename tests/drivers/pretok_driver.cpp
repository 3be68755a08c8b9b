// Runs the splitting core for the tests, without the Python face. Commands:
//   expression NAME             prints the expression stored for a named pattern
//   split PATTERN               stdin: texts, each a 4-byte little-endian length and its
//                               bytes; stdout: per text, the number of pieces and each
//                               piece's length, 4-byte little-endian each
//   train PATTERN MERGES THREADS  stdin: the text; stdout: one "left right" line per rule
//   encode PATTERN MODEL        stdin: the text; stdout: its ids, one per line, as the model
//                               file MODEL encodes the text split by PATTERN
//   time-split PATTERN N, time-ranks PATTERN RANKS N, time-train PATTERN MERGES THREADS N
//                               print the median seconds of N runs of the work alone, for
//                               bench/bench_pretok.py
//   ranks PATTERN RANKS         the same with the rules derived from a tiktoken rank file,
//                               the ids being the file's ranks; a refused file exits with 4
//                               and the reason on stderr
//   model-of-ranks PATTERN RANKS OUT  writes the model of those rules and PATTERN to the
//                               file OUT; stdout: for each id of the model, the rank it
//                               stands for, one per line
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "persist/model_file_reader.hpp"
#include "persist/model_file_writer.hpp"
#include "persist/rank_file.hpp"
#include "tokenizer/pretok/encode_split.hpp"
#include "tokenizer/pretok/piece_encoder.hpp"
#include "tokenizer/pretok/piece_merge_learner.hpp"
#include "tokenizer/pretok/rules_from_ranks.hpp"
#include "tokenizer/pretok/splitter.hpp"

namespace {

using namespace tessaron::pretok;

bool read_u32(std::uint32_t& value) {
    unsigned char b[4];
    if (std::fread(b, 1, 4, stdin) != 4) return false;
    value = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
    return true;
}

void write_u32(std::uint32_t value) {
    const unsigned char b[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    std::fwrite(b, 1, 4, stdout);
}

int split(SplitPattern pattern) {
    std::uint32_t length;
    std::string text;
    std::vector<std::uint32_t> pieces;
    while (read_u32(length)) {
        text.resize(length);
        if (std::fread(text.data(), 1, length, stdin) != length) return 3;
        pieces.clear();
        for_each_piece(pattern, text, [&](std::size_t begin, std::size_t end) {
            pieces.push_back(static_cast<std::uint32_t>(end - begin));
        });
        write_u32(static_cast<std::uint32_t>(pieces.size()));
        for (const std::uint32_t p : pieces) write_u32(p);
    }
    return 0;
}

std::string read_all() {
    std::string text;
    char buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        text.append(buffer, got);
    }
    return text;
}

int train(SplitPattern pattern, std::uint64_t merges, std::uint64_t threads) {
    const std::string text = read_all();
    const auto rules = learn_piece_merges(pattern, text, merges, threads);
    for (const auto& rule : *rules) {
        std::cout << rule.left << ' ' << rule.right << '\n';
    }
    return 0;
}

int encode(SplitPattern pattern, const std::string& model) {
    tessaron::basic::Model loaded;
    if (!tessaron::persist::read_model_file(loaded, model).ok()) {
        std::cerr << "cannot load " << model << "\n";
        return 3;
    }
    const tessaron::basic::Encoding ids = encode_split(loaded, pattern, read_all());
    for (std::size_t i = 0; i < ids.size(); ++i) std::cout << ids[i] << '\n';
    return 0;
}

// Wall time, or with `cpu` the process's CPU time: steadier for one thread on a busy machine.
template <class Work>
double median_seconds(int runs, Work&& work, bool cpu = false) {
    std::vector<double> seconds;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t start_cpu = std::clock();
        work();
        seconds.push_back(
            cpu ? static_cast<double>(std::clock() - start_cpu) / CLOCKS_PER_SEC
                : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

// The model of a rank file, or the reason it is refused on stderr.
std::optional<std::pair<tessaron::basic::Model, RulesFromRanks>> model_of_ranks(
    const std::string& rank_path) {
    std::string data;
    if (std::FILE* f = std::fopen(rank_path.c_str(), "rb")) {
        char buffer[1 << 16];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
            data.append(buffer, got);
        }
        std::fclose(f);
    }
    const tessaron::persist::RankFile file = tessaron::persist::parse_rank_file(data);
    if (!file.error.empty()) {
        std::cerr << file.error << "\n";
        return std::nullopt;
    }
    RulesFromRanks derived = rules_from_ranks(file.tokens);
    if (!derived.error.empty()) {
        std::cerr << derived.error << "\n";
        return std::nullopt;
    }
    tessaron::basic::MergeMap merges;
    for (std::size_t i = 0; i < derived.rules.size(); ++i) merges.insert(derived.rules[i], 256 + i);
    tessaron::basic::Model model;
    model.replace(std::move(merges), {}, "");
    return std::pair{std::move(model), std::move(derived)};
}

int encode_by_ranks(SplitPattern pattern, const std::string& rank_path) {
    const auto loaded = model_of_ranks(rank_path);
    if (!loaded) return 4;
    const auto& [model, derived] = *loaded;
    const std::string text = read_all();
    std::vector<std::uint32_t> tokens;
    const tessaron::basic::EncodeTables& tables = model.encode_tables();
    const std::unique_ptr<KnownPieces> known = known_pieces_of(model);
    PieceEncoder(tables, pattern, *known).encode(text, tokens);
    for (const std::uint32_t token : tokens) {
        std::cout << derived.rank_of_id[tables.token_ids()[token]] << '\n';
    }
    return 0;
}

int write_model_of_ranks(SplitPattern pattern, const std::string& rank_path,
                         const std::string& out) {
    auto loaded = model_of_ranks(rank_path);
    if (!loaded) return 4;
    auto& [model, derived] = *loaded;
    tessaron::basic::MergeMap merges = model.merges();
    model.replace(std::move(merges), {}, pattern.expression());
    if (!tessaron::persist::write_model_file(model, out).ok()) return 3;
    for (const tessaron::TokenId rank : derived.rank_of_id) std::cout << rank << '\n';
    return 0;
}

int time_command(const std::string& command, SplitPattern pattern, char** rest, int count) {
    const int runs = std::stoi(rest[count - 1]);
    const std::string text = read_all();
    double seconds = 0;
    if (command == "time-split" && count == 1) {
        std::size_t pieces = 0;
        seconds = median_seconds(
            runs,
            [&] { for_each_piece(pattern, text, [&](std::size_t, std::size_t) { ++pieces; }); },
            true);
        std::cerr << pieces / static_cast<std::size_t>(runs) << " pieces\n";
    } else if (command == "time-ranks" && count == 2) {
        const auto loaded = model_of_ranks(rest[0]);
        if (!loaded) return 4;
        std::vector<std::uint32_t> tokens;
        const tessaron::basic::Model& model = loaded->first;
        // Each run with a fresh table, as a text never seen before meets it.
        std::vector<std::unique_ptr<KnownPieces>> tables;
        const double made =
            median_seconds(runs, [&] { tables.push_back(known_pieces_of(model)); }, true);
        std::cerr << "table of every token made in " << made << " s\n";
        std::size_t run = 0;
        seconds = median_seconds(
            runs,
            [&] {
                tokens.clear();
                PieceEncoder(model.encode_tables(), pattern, *tables[run++]).encode(text, tokens);
            },
            true);
    } else if (command == "time-train" && count == 3) {
        seconds = median_seconds(runs, [&] {
            learn_piece_merges(pattern, text, std::stoull(rest[0]), std::stoull(rest[1]));
        });
    } else {
        return 2;
    }
    std::cout << seconds << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1];
    auto compiled = split_pattern(argv[2]);
    if (const auto* error = std::get_if<PatternError>(&compiled)) {
        std::cerr << error->message << "\n";
        return 5;
    }
    const auto pattern = std::optional(std::get<SplitPattern>(std::move(compiled)));
    if (command == "expression") {
        std::cout << pattern->expression();
        return 0;
    }
    if (command == "split") return split(*pattern);
    if (command == "train" && argc == 5) {
        return train(*pattern, std::stoull(argv[3]), std::stoull(argv[4]));
    }
    if (command == "encode" && argc == 4) return encode(*pattern, argv[3]);
    if (command == "ranks" && argc == 4) return encode_by_ranks(*pattern, argv[3]);
    if (command == "model-of-ranks" && argc == 5) {
        return write_model_of_ranks(*pattern, argv[3], argv[4]);
    }
    if (command.starts_with("time-")) return time_command(command, *pattern, argv + 3, argc - 3);
    return 2;
}
