// The pieces whose tokens a split encoder has without merging: the bytes of every token of the
// model, put in when the table is made, and the merged pieces learned while encoding, up to
// kMaxLearned pieces of at most kLongestLearned bytes. It lasts as long as its model, so every
// call and every thread gains from what the others learned.
//
// Several threads may find and learn at once without a lock. A slot is claimed by setting its
// hash and published by a release store of where its entry lies, written once and never moved:
// a reader that sees the hash before the entry treats the slot as another piece's, so it merges
// the piece itself (same result) and at worst learns it a second time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>

#include "support/random_seed.hpp"
#include "support/seeded_hash.hpp"
#include "tokenizer/pretok/char_tokens.hpp"
#include "tokenizer/pretok/kept_piece_cache.hpp"

namespace tessaron::pretok {

class KnownPieces {
public:
    static constexpr std::size_t kLongestLearned = 64;
    static constexpr std::size_t kMaxLearned = std::size_t{1} << 17;

    // Room for `tokens` entries put in with `add` of `token_words` words (tokens and key bytes
    // at four a word) in all, besides the learned ones.
    KnownPieces(std::size_t tokens, std::size_t token_words);
    KnownPieces(const KnownPieces&) = delete;
    KnownPieces& operator=(const KnownPieces&) = delete;

    std::uint64_t hash(std::string_view piece) const { return hash_(piece) | 1; }
    // The hash function itself, for a table in front of this one: hash(piece) is its value
    // with the lowest bit set.
    const SeededHash& hash_function() const { return hash_; }
    // A seed for the caches in front of this table, drawn with it.
    std::uint64_t cache_seed() const { return cache_seed_; }

    // Once prefetch(h)'s slot has arrived: starts loading the entry it points to when it holds
    // the piece's hash (the usual case), so that find then waits for one line instead of two.
    [[gnu::always_inline]] void prefetch_entry(std::uint64_t h) const {
        const Slot& slot = slots_[h & (slot_count_ - 1)];
        if (slot.hash.load(std::memory_order_relaxed) != h) return;
        __builtin_prefetch(arena_.get() + (slot.entry.load(std::memory_order_relaxed) >> 32));
    }

    // The tokens of a piece, or an empty span when it is not known (yet).
    std::span<const std::uint32_t> find(std::string_view piece, std::uint64_t h) const;

    // Starts loading the first slot find(_, h) reads, so that several look-ups can wait for
    // memory at once.
    [[gnu::always_inline]] void prefetch(std::uint64_t h) const {
        __builtin_prefetch(&slots_[h & (slot_count_ - 1)]);
    }

    // A token's own piece: one thread, before any encoding.
    void add(std::string_view piece, std::span<const std::uint32_t> tokens);
    // A merged piece; ignored when it is too long or the learned room is used up.
    void learn(std::string_view piece, std::uint64_t h, std::span<const std::uint32_t> tokens);

    // The characters a merge may start from as their tokens: set with the tokens' pieces.
    const CharTokens& chars() const { return chars_; }
    void set_chars(CharTokens chars) { chars_ = std::move(chars); }

    // The caches of pieces finished encoding calls left, which last as long as this table.
    KeptPieceCache& kept_cache() { return kept_cache_; }

    std::size_t learned() const { return learned_.load(std::memory_order_relaxed); }
    // What the table takes at most, in bytes.
    std::size_t capacity_bytes() const;

private:
    // 0 while its entry is being written.
    struct Slot {
        std::atomic<std::uint64_t> hash{0};
        // Offset << 32 | key length << 16 | token count.
        std::atomic<std::uint64_t> entry{0};
    };

    // Room for the entry in the arena, or false when it is full.
    bool put(std::string_view piece, std::uint64_t h, std::span<const std::uint32_t> tokens);

    std::size_t slot_count_;
    std::unique_ptr<Slot[]> slots_;
    std::size_t arena_words_;
    std::unique_ptr<std::uint32_t[]> arena_;
    std::size_t longest_ = 0;  // of the pieces added
    SeededHash hash_;
    std::uint64_t cache_seed_ = random_seed();
    CharTokens chars_;
    KeptPieceCache kept_cache_;
    // Written by every piece learned, so on lines of their own: beside the fields above, which
    // every look-up reads, each piece one thread learned would cost the other threads' next
    // look-up a wait for the line.
    alignas(64) std::atomic<std::size_t> arena_used_{0};
    std::atomic<std::size_t> learned_{0};
};

}  // namespace tessaron::pretok
