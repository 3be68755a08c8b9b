// The id sequence of a training run: one 32-bit slot per text byte, shortened by merges
// without moving anything. A token starts at its first byte's slot; the slots it covers
// beyond that are dead. The first and last dead slot of a token hold the ends of its span,
// so the neighbours of any live slot are found in one or two reads.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tessaron::basic {

class TokenSequence {
public:
    // Live ids and positions stay below this; the dead marks use the bit above.
    static constexpr std::uint32_t kLimit = 1u << 31;

    explicit TokenSequence(std::span<const std::uint8_t> bytes)
        : slots_(bytes.begin(), bytes.end()) {}

    std::uint32_t size() const { return static_cast<std::uint32_t>(slots_.size()); }

    // The id at a slot, or a value >= kLimit when the slot is dead.
    std::uint32_t at(std::uint32_t p) const { return slots_[p]; }

    // Start of the token after the live slot p, or size() at the end.
    std::uint32_t next(std::uint32_t p) const {
        const std::uint32_t q = p + 1;
        if (q >= size()) return size();
        const std::uint32_t v = slots_[q];
        if (v < kLimit) return q;
        return v == kPairSpan ? p + 2 : v - kLimit;
    }

    // Start of the token before the live slot p > 0.
    std::uint32_t prev(std::uint32_t p) const {
        const std::uint32_t v = slots_[p - 1];
        if (v < kLimit) return p - 1;
        return v == kPairSpan ? p - 2 : v - kLimit;
    }

    // Joins the token at p with the token at q = next(p), which ends at end, into id.
    void merge(std::uint32_t p, std::uint32_t q, std::uint32_t end, std::uint32_t id) {
        slots_[p] = id;
        slots_[q] = kPairSpan;  // dead, whatever the span marks below write
        if (end - p == 2) return;
        slots_[p + 1] = kLimit + end;
        slots_[end - 1] = kLimit + p;
    }

    // Hint that slot p is read soon: list walks jump across the whole text.
    void prefetch(std::uint32_t p) const { __builtin_prefetch(slots_.data() + p); }

    // True when the pair (left, right) starts at slot p.
    bool holds(std::uint32_t p, std::uint32_t left, std::uint32_t right) const {
        if (slots_[p] != left) return false;
        const std::uint32_t q = next(p);
        return q < size() && slots_[q] == right;
    }

private:
    // A dead slot inside a two-slot token: its neighbours are implied.
    static constexpr std::uint32_t kPairSpan = ~std::uint32_t{0};

    std::vector<std::uint32_t> slots_;
};

}  // namespace tessaron::basic
