#include "tokenizer/pretok/known_pieces.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "support/short_bytes.hpp"

namespace tessaron::pretok {

namespace {

// Room per learned piece on average: a 32-byte piece of 8 tokens takes 16 words; most are
// shorter.
constexpr std::size_t kLearnedWords = 16;
constexpr std::size_t kLongestEntry = 0xFFFF;

std::size_t words_of(std::string_view piece, std::span<const std::uint32_t> tokens) {
    return tokens.size() + (piece.size() + 3) / 4;
}

}  // namespace

KnownPieces::KnownPieces(std::size_t tokens, std::size_t token_words)
    // At most two thirds full, so that probes stay short.
    : slot_count_(std::bit_ceil((tokens + kMaxLearned) * 3 / 2)),
      slots_(std::make_unique<Slot[]>(slot_count_)),
      arena_words_(token_words + kMaxLearned * kLearnedWords),
      // Pages the learned part never reaches are never touched.
      arena_(std::make_unique_for_overwrite<std::uint32_t[]>(arena_words_)) {}

std::span<const std::uint32_t> KnownPieces::find(std::string_view piece, std::uint64_t h) const {
    if (piece.size() > std::max(longest_, kLongestLearned)) return {};
    const std::size_t mask = slot_count_ - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        const std::uint64_t found = slot.hash.load(std::memory_order_relaxed);
        if (found == 0) return {};
        if (found != h) continue;
        const std::uint64_t entry = slot.entry.load(std::memory_order_acquire);
        const auto key_length = static_cast<std::size_t>((entry >> 16) & 0xFFFF);
        if (key_length != piece.size()) continue;
        const std::uint32_t* at = arena_.get() + (entry >> 32);
        const auto count = static_cast<std::size_t>(entry & 0xFFFF);
        if (same_bytes(reinterpret_cast<const char*>(at + count), piece.data(), piece.size())) {
            return {at, count};
        }
    }
}

void KnownPieces::add(std::string_view piece, std::span<const std::uint32_t> tokens) {
    if (put(piece, hash(piece), tokens)) longest_ = std::max(longest_, piece.size());
}

void KnownPieces::learn(std::string_view piece, std::uint64_t h,
                        std::span<const std::uint32_t> tokens) {
    if (piece.size() > kLongestLearned || learned() >= kMaxLearned) return;
    if (learned_.fetch_add(1, std::memory_order_relaxed) >= kMaxLearned) return;
    put(piece, h, tokens);
}

bool KnownPieces::put(std::string_view piece, std::uint64_t h,
                      std::span<const std::uint32_t> tokens) {
    if (piece.empty() || piece.size() > kLongestEntry || tokens.size() > kLongestEntry) {
        return false;
    }
    const std::size_t words = words_of(piece, tokens);
    const std::size_t offset = arena_used_.fetch_add(words, std::memory_order_relaxed);
    if (offset + words > arena_words_ || offset > 0xFFFFFFFFu) return false;
    std::uint32_t* at = arena_.get() + offset;
    std::copy(tokens.begin(), tokens.end(), at);
    std::memcpy(at + tokens.size(), piece.data(), piece.size());
    const std::uint64_t entry =
        (std::uint64_t{offset} << 32) | (piece.size() << 16) | tokens.size();
    const std::size_t mask = slot_count_ - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        std::uint64_t expected = 0;
        if (slots_[i].hash.compare_exchange_strong(expected, h, std::memory_order_relaxed)) {
            slots_[i].entry.store(entry, std::memory_order_release);
            return true;
        }
    }
}

std::size_t KnownPieces::capacity_bytes() const {
    return slot_count_ * sizeof(Slot) + arena_words_ * sizeof(std::uint32_t);
}

}  // namespace tessaron::pretok
