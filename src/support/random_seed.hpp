// Seeds for the hash maps, drawn from the operating system's random source.
#pragma once

#include <cstdint>

namespace tessaron {

std::uint64_t random_seed();

}  // namespace tessaron
