// The hook training calls between merges, on the training thread: told the rules learned so
// far and the rules wanted, it returns false to stop.
#pragma once

#include <cstdint>
#include <functional>

namespace tessaron::basic {

using TrainProgress = std::function<bool(std::uint64_t rules_done, std::uint64_t rules_wanted)>;

}  // namespace tessaron::basic
