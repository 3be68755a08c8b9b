// Training without the interpreter lock, on the calling thread. About ten times a second it
// takes the lock back to run pending signal handlers (so Ctrl-C stops it) and the progress
// callback; an exception from either stops training, and is raised once the lock is back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "binding/ref.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/pretok/split_pattern.hpp"
#include "tools_module/arguments.hpp"

namespace tessaron::tools {

struct TrainSettings {
    std::uint64_t rules_wanted;
    std::uint64_t threads;
    PyObject* progress;  // a callable taking (rules_done, rules_wanted), or null
    // Pairs are counted inside the pattern's pieces only, and the model keeps the pattern.
    std::optional<pretok::SplitPattern> pattern;
};

// The model learned from `text`. Throws ErrorAlreadySet when a signal handler or the
// callback raised.
basic::Model train_without_lock(std::span<const std::uint8_t> text, const TrainSettings& settings);

// The same from the files' bytes, concatenated in order; reading them can be stopped the same
// way, and a file that cannot be read raises the OSError that names it.
basic::Model train_files_without_lock(const std::vector<Path>& paths,
                                      const TrainSettings& settings);

}  // namespace tessaron::tools
