// The pieces met by all the threads of one batch call, in front of the model's table of known
// pieces: with a cache per thread, each thread met the text's common pieces for the first time
// on its own, and two threads looked up half as many pieces again as one (20.5k misses against
// 14.3k on 4.3 MB of English in 64 KB chunks).
//
// Its size is fixed for the call, from the bytes of the batch, so that it never moves while
// another thread reads it; once it holds as many pieces as that allows, it only answers.
// Several threads find and insert at once without a lock: a slot is claimed by marking it busy
// and published by a release store of its final mark, after its key and tokens are written. A
// reader that meets a busy slot takes it for another piece's, so at worst a piece is met twice
// and put in twice; the first copy found is as good as any.
//
// It takes the hashes of PieceCache::hash, and keeps the same layout of a slot.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "tokenizer/pretok/piece_cache.hpp"

namespace tessaron::pretok {

class SharedPieceCache {
public:
    // Room for the pieces of `batch_bytes` bytes of text: English has about one distinct
    // piece per 300 bytes in a few MB; text with more gets what fits, the rest is looked up.
    explicit SharedPieceCache(std::size_t batch_bytes)
        : slots_(std::bit_ceil(std::clamp(batch_bytes / kBytesPerSlot, kFewestSlots, kMostSlots))),
          most_entries_(slots_.size() / 2),
          arena_words_(most_entries_ * kWordsPerEntry),
          arena_(new std::uint32_t[arena_words_]) {}

    std::span<const std::uint32_t> find(std::string_view piece, std::uint64_t h) const {
        if (piece.size() > PieceCache::kLongestPiece || piece.empty()) return {};
        const std::uint32_t wanted = PieceCache::meta_of(h, piece.size());
        const std::uint64_t key =
            piece.size() <= kLongestInline ? PieceCache::inline_key(piece) : 0;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            const std::uint32_t meta = slot.meta.load(std::memory_order_acquire);
            if (meta == 0) return {};
            if ((meta & ~kMany) != wanted) continue;
            if (piece.size() <= kLongestInline
                    ? slot.key != key
                    : std::memcmp(arena_.get() + slot.key, piece.data(), piece.size()) != 0) {
                continue;
            }
            if (!(meta & kMany)) return {&slot.tokens, 1};
            return {arena_.get() + slot.tokens + 1, arena_[slot.tokens]};
        }
    }

    // What one thread has claimed of the entries and of the arena: taken a block at a time, so
    // that the threads do not take turns writing the counters' line at every insert.
    struct Claim {
        std::size_t entries = 0;
        std::size_t at = 0;  // in arena_, words
        std::size_t words = 0;
    };

    void insert(std::string_view piece, std::uint64_t h, std::span<const std::uint32_t> tokens,
                Claim& claim) {
        if (piece.size() > PieceCache::kLongestPiece || piece.empty() || tokens.empty() ||
            (claim.entries == 0 && !claim_entries(claim))) {
            return;
        }
        --claim.entries;
        const bool long_key = piece.size() > kLongestInline;
        const std::size_t words =
            (long_key ? (piece.size() + 3) / 4 : 0) + (tokens.size() > 1 ? 1 + tokens.size() : 0);
        std::size_t at = 0;
        if (words != 0) {
            if (words > claim.words && !claim_words(claim, words)) return;
            at = claim.at;
            claim.at += words;
            claim.words -= words;
        }
        std::uint64_t key;
        if (long_key) {
            key = at;
            std::memcpy(arena_.get() + at, piece.data(), piece.size());
            at += (piece.size() + 3) / 4;
        } else {
            key = PieceCache::inline_key(piece);
        }
        std::uint32_t meta = PieceCache::meta_of(h, piece.size());
        std::uint32_t token = tokens.front();
        if (tokens.size() > 1) {
            meta |= kMany;
            token = static_cast<std::uint32_t>(at);
            arena_[at] = static_cast<std::uint32_t>(tokens.size());
            std::copy(tokens.begin(), tokens.end(), arena_.get() + at + 1);
        }
        // Never more entries than half the slots: a free one is always found.
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            std::uint32_t free = 0;
            if (slot.meta.load(std::memory_order_relaxed) != 0 ||
                !slot.meta.compare_exchange_strong(free, kBusy, std::memory_order_relaxed)) {
                continue;
            }
            slot.key = key;
            slot.tokens = token;
            slot.meta.store(meta, std::memory_order_release);
            return;
        }
    }

private:
    static constexpr std::size_t kEntriesAtOnce = 64;
    static constexpr std::size_t kWordsAtOnce = 1024;

    // Never more entries in all than most_entries_.
    bool claim_entries(Claim& claim) {
        if (entries_.load(std::memory_order_relaxed) >= most_entries_) return false;
        const std::size_t first = entries_.fetch_add(kEntriesAtOnce, std::memory_order_relaxed);
        if (first >= most_entries_) return false;
        claim.entries = std::min(kEntriesAtOnce, most_entries_ - first);
        return true;
    }
    // The rest of the block before is given up.
    bool claim_words(Claim& claim, std::size_t words) {
        const std::size_t block = std::max(words, kWordsAtOnce);
        if (arena_used_.load(std::memory_order_relaxed) >= arena_words_) return false;
        const std::size_t at = arena_used_.fetch_add(block, std::memory_order_relaxed);
        if (at + words > arena_words_) return false;
        claim.at = at;
        claim.words = std::min(block, arena_words_ - at);
        return true;
    }

    static constexpr std::size_t kLongestInline = PieceCache::kLongestInline;
    static constexpr std::size_t kBytesPerSlot = 64;
    static constexpr std::size_t kFewestSlots = 1 << 14;
    static constexpr std::size_t kMostSlots = 2 * PieceCache::kMaxEntries;
    // Room for the long keys and token lists of the entries, on average; most pieces are one
    // token and short, and need none.
    static constexpr std::size_t kWordsPerEntry = 8;
    static constexpr std::uint32_t kHashBits = PieceCache::kHashBits;
    static constexpr std::uint32_t kMany = PieceCache::kMany;
    // A length no piece has: never equal to a piece's mark.
    static constexpr std::uint32_t kBusy = 127 << 1;
    static_assert(PieceCache::kLongestPiece < 127 && kMostSlots <= kHashBits + 1);

    struct Slot {
        std::uint64_t key;  // the bytes of a short piece, else their offset in arena_ (words)
        std::uint32_t tokens;  // the one token, or with kMany the offset in arena_ of the count
                               // and then the tokens
        std::atomic<std::uint32_t> meta{0};  // the hash's low 24 bits, the length, kMany
    };
    static_assert(sizeof(Slot) == 16);

    std::vector<Slot> slots_;
    const std::size_t most_entries_;
    const std::size_t arena_words_;
    std::unique_ptr<std::uint32_t[]> arena_;
    // On a cache line of their own: every find reads the members above, and a claim writing
    // beside them made the other thread's next find wait for the line (3 % more CPU time on two
    // threads, in the processes where the allocator happened to put them on one line).
    alignas(64) std::atomic<std::size_t> entries_{0};
    std::atomic<std::size_t> arena_used_{0};
};

}  // namespace tessaron::pretok
