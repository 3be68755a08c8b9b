// The id sequence of a training run: one 32-bit slot per text byte, shortened by merges
// without moving anything. A token starts at its first byte's slot; the slots it covers
// beyond that are dead. The first and last dead slot of a token hold its length, so the
// neighbours of any live slot are found in one or two reads. Lengths rather than positions
// keep the slots 32-bit on texts of any size; a token too long for one slot spreads its
// length over the next two dead slots at each end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "parallel/worker_pool.hpp"
#include "support/page_vector.hpp"

// Tokens at least this long keep their length in the spread form; test builds set it low so
// that short texts reach it.
#ifndef TESSARON_LONG_TOKEN_MIN
#define TESSARON_LONG_TOKEN_MIN 0x7FFFFFFD
#endif

namespace tessaron::basic {

class TokenSequence {
public:
    // Live ids stay below this; dead slots hold values at or above it.
    static constexpr std::uint32_t kLimit = 1u << 31;

    // The text copied in `parts` pieces at once on the worker pool when parts > 1.
    TokenSequence(std::span<const std::uint8_t> bytes, std::size_t parts)
        : slots_(PageVector<std::uint32_t>::written(bytes.size(), [&](std::uint32_t* out) {
              const auto copy = [&](std::size_t k) {
                  const std::size_t begin = bytes.size() * k / parts;
                  const std::size_t end = bytes.size() * (k + 1) / parts;
                  std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                            bytes.begin() + static_cast<std::ptrdiff_t>(end), out + begin);
              };
              if (parts > 1) {
                  parallel::WorkerPool::global().run_here(parts, copy);
              } else {
                  copy(0);
              }
          })) {}

    std::uint64_t size() const { return slots_.size(); }

    // The id at a slot, or a value >= kLimit when the slot is dead.
    std::uint32_t at(std::uint64_t p) const { return slots_[p]; }

    // Start of the token after the live slot p, or size() at the end.
    [[gnu::always_inline]] std::uint64_t next(std::uint64_t p) const {
        const std::uint64_t q = p + 1;
        if (q >= size()) return size();
        const std::uint32_t v = slots_[q];
        if (v < kLimit) return q;
        if (v == kPairSpan) return p + 2;
        if (v != kLongMark) return p + (v - kLimit);
        return p + long_length(q, true);
    }

    // Start of the token before the live slot p > 0.
    [[gnu::always_inline]] std::uint64_t prev(std::uint64_t p) const {
        const std::uint32_t v = slots_[p - 1];
        if (v < kLimit) return p - 1;
        if (v == kPairSpan) return p - 2;
        if (v != kLongMark) return p - (v - kLimit);
        return p - long_length(p - 1, false);
    }

    // Joins the token at p with the token at q = next(p), which ends at end, into id < kLimit.
    void merge(std::uint64_t p, std::uint64_t q, std::uint64_t end, std::uint32_t id) {
        slots_[p] = id;
        slots_[q] = kPairSpan;  // dead, whatever the length marks below write
        const std::uint64_t length = end - p;
        if (length == 2) return;
        if (length < kLongToken) {
            slots_[p + 1] = kLimit + static_cast<std::uint32_t>(length);
            slots_[end - 1] = kLimit + static_cast<std::uint32_t>(length);
            return;
        }
        const auto low = kLimit | static_cast<std::uint32_t>(length & kPieceMask);
        const auto high = kLimit | static_cast<std::uint32_t>(length >> kPieceBits);
        slots_[p + 1] = kLongMark;
        slots_[p + 2] = low;
        slots_[p + 3] = high;
        slots_[end - 1] = kLongMark;
        slots_[end - 2] = low;
        slots_[end - 3] = high;
    }

    // Hint that the slots around p are read soon: list walks jump across the whole text, and
    // a merge at p reads the tokens before and after it, which often begin on the cache line
    // before or end on the one after. A prefetch past the end never faults; bounding it by the
    // size made one-thread training a third slower. A caller that knows how far a merge at p
    // reaches gives it as `ahead`.
    void prefetch(std::uint64_t p, std::uint64_t ahead = kPrefetchAhead) const {
        __builtin_prefetch(slots_.data() + (p >= kPrefetchBack ? p - kPrefetchBack : 0));
        __builtin_prefetch(slots_.data() + p + ahead);
    }

    // True when the pair (left, right) starts at slot p.
    bool holds(std::uint64_t p, std::uint32_t left, std::uint32_t right) const {
        if (slots_[p] != left) return false;
        const std::uint64_t q = next(p);
        return q < size() && slots_[q] == right;
    }

private:
    // A dead slot inside a two-slot token: its neighbours are implied.
    static constexpr std::uint32_t kPairSpan = ~std::uint32_t{0};
    // The end slot of a long token; its length lies in the two slots further in.
    static constexpr std::uint32_t kLongMark = kPairSpan - 1;
    static constexpr unsigned kPieceBits = 31;
    static constexpr std::uint64_t kPieceMask = (std::uint64_t{1} << kPieceBits) - 1;
    // Shorter tokens write kLimit + length, which stays below kLongMark. The spread form
    // needs seven slots so that its two ends do not overlap.
    static constexpr std::uint64_t kLongToken = TESSARON_LONG_TOKEN_MIN;
    static_assert(kLongToken >= 7 && kLongToken <= kLongMark - kLimit);
    // Slots a prefetch reaches back and ahead of p; measured best among a few on prose and
    // mixed text.
    static constexpr std::uint64_t kPrefetchBack = 4;
    static constexpr std::uint64_t kPrefetchAhead = 7;

    // The length of the long token whose first or last dead slot `at` holds kLongMark; rare,
    // so kept out of the inlined walks.
    [[gnu::noinline, gnu::cold]] std::uint64_t long_length(std::uint64_t at, bool first) const {
        const std::uint32_t low = slots_[first ? at + 1 : at - 1];
        const std::uint32_t high = slots_[first ? at + 2 : at - 2];
        return (std::uint64_t{high - kLimit} << kPieceBits) | (low - kLimit);
    }

    PageVector<std::uint32_t> slots_;
};

}  // namespace tessaron::basic
