// Byte-pair merge learning with incremental pair counts: the sequence is counted once,
// then each merge touches only the occurrences of its pair and their neighbours.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tokenizer/basic/train_progress.hpp"

namespace tessaron::basic {

struct LearnedMerge {
    std::uint32_t left;
    std::uint32_t right;
};

// The rules that repeated "merge the most frequent adjacent pair" learns, the smallest
// pair winning among equally frequent ones; rule i makes id 256 + i. Stops after
// max_merges rules or when no pair is left. With num_threads >= 2 and at least that many
// bytes, the first count runs in chunks on the worker pool. `progress`, when given, is asked
// before every merge and once at the end; nothing comes back when it says stop.
std::optional<std::vector<LearnedMerge>> learn_merges(std::span<const std::uint8_t> bytes,
                                                      std::uint64_t max_merges,
                                                      std::uint64_t num_threads,
                                                      const TrainProgress& progress);

}  // namespace tessaron::basic
