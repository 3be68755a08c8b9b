// Byte-pair merge learning inside pieces: pairs are counted only within a piece, each
// distinct piece weighted by how often it occurs, and no rule joins two pieces.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tokenizer/basic/merge_learner.hpp"
#include "tokenizer/basic/train_progress.hpp"
#include "tokenizer/pretok/piece_counts.hpp"

namespace tessaron::pretok {

// The rules that repeated "merge the most frequent pair" learns over the pieces, the
// smallest pair winning among equally frequent ones; rule i makes id 256 + i. Stops after
// max_merges rules or when every piece is one token; nothing when `progress`, told the
// rules learned after each one, says stop.
std::optional<std::vector<basic::LearnedMerge>> learn_piece_merges(
    std::span<const PieceCount> pieces, std::uint64_t max_merges,
    const basic::TrainProgress& progress = {});

// The same over the pieces of a text; threads >= 2 counts the pieces on the worker pool.
std::optional<std::vector<basic::LearnedMerge>> learn_piece_merges(
    SplitPattern pattern, std::string_view text, std::uint64_t max_merges, std::uint64_t threads,
    const basic::TrainProgress& progress = {});

}  // namespace tessaron::pretok
