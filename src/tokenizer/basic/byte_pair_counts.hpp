// Adjacent-pair counts of a byte sequence: in one pass, or cut into contiguous chunks counted
// on the pool.
#pragma once

#include <cstdint>
#include <span>

#include "support/page_vector.hpp"

namespace tessaron::basic {

// counts[(left << 8) | right] is the number of positions holding that pair.
using BytePairCounts = PageVector<std::uint64_t>;
inline constexpr std::size_t kBytePairs = 1u << 16;

// Adds the pairs that lie wholly inside `bytes` to `counts`; spans that overlap by one byte
// count every pair of their union once.
void add_byte_pairs(std::span<const std::uint8_t> bytes, BytePairCounts& counts);

// Chunk size len / num_threads; every chunk counts its inner pairs and the pair that spans
// into the next chunk, so each adjacent pair is counted exactly once. Fails with
// "chunk_size must not be zero" when the sequence is shorter than num_threads, before the
// pool is touched.
BytePairCounts count_pairs_chunked(std::span<const std::uint8_t> ids, std::uint64_t num_threads);

}  // namespace tessaron::basic
