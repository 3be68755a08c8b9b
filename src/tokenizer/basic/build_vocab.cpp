#include "tokenizer/basic/build_vocab.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <unordered_map>
#include <vector>

#include "support/seeded_hash.hpp"

namespace tessaron::basic {

namespace {

// Rules may name any earlier id, so a model file of a few dozen lines can chain tokens
// that double in length at every step. Past this many bytes written by one build the
// model cannot be held anyway: refuse it up front (MemoryError) instead of letting the
// machine run out of memory. A thirty-second of physical memory leaves room for the
// rendered copy, which can be six times the raw bytes.
std::uint64_t byte_limit() {
    static const std::uint64_t limit = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long page_size = ::sysconf(_SC_PAGE_SIZE);
        if (pages <= 0 || page_size <= 0) return std::uint64_t{1} << 30;
        return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 32;
    }();
    return limit;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// Replays the build on lengths only; throws std::bad_alloc when it would write too much.
void check_size(const Vocab& vocab, const MergeMap& merges) {
    // Rules made by training or loading have the ids 256, 257, ...: a flat table holds
    // their lengths; any other id goes to the map. Zero means not built in this pass.
    std::vector<std::uint64_t> dense(merges.size(), 0);
    std::unordered_map<TokenId, std::uint64_t, SeededHash> sparse;
    auto length_of = [&](TokenId id) -> std::uint64_t {
        if (id < 256) return 1;
        if (id - 256 < dense.size()) {
            if (dense[id - 256] != 0) return dense[id - 256];
        } else if (auto it = sparse.find(id); it != sparse.end()) {
            return it->second;
        }
        const std::string* bytes = vocab.find(id);
        return bytes == nullptr ? 0 : bytes->size();  // zero: absent, the rule is skipped
    };
    std::uint64_t total = 256;
    for (const auto& [pair, id] : merges) {
        const std::uint64_t left = length_of(pair.left);
        if (left == 0) continue;
        const std::uint64_t right = length_of(pair.right);
        if (right == 0) continue;
        const std::uint64_t length = saturating_add(left, right);
        if (id >= 256 && id - 256 < dense.size()) {
            dense[id - 256] = length;
        } else {
            sparse.insert_or_assign(id, length);
        }
        total = saturating_add(total, length);
        if (total > byte_limit()) throw std::bad_alloc();
    }
}

}  // namespace

void build_vocab(Vocab& vocab, const MergeMap& merges, const SpecialTokenMap& special_tokens) {
    check_size(vocab, merges);
    vocab.reserve(vocab.size() + 256 + merges.size() + special_tokens.size());
    // Entries by id for the ids of trained and loaded models (bytes, then 256, 257, ...), so
    // that most parts are found without hashing; others, and ids not set here, are looked up.
    std::vector<const std::string*> known(256 + merges.size(), nullptr);
    auto find = [&](TokenId id) {
        const std::string* bytes = id < known.size() ? known[id] : nullptr;
        return bytes != nullptr ? bytes : vocab.find(id);
    };
    auto set = [&](TokenId id, std::string bytes) {
        const std::string& entry = vocab.set(id, std::move(bytes));
        if (id < known.size()) known[id] = &entry;
    };
    for (TokenId b = 0; b < 256; ++b) {
        set(b, std::string(1, static_cast<char>(b)));
    }
    for (const auto& [pair, id] : merges) {
        const std::string* left = find(pair.left);
        if (left == nullptr) continue;
        const std::string* right = find(pair.right);
        if (right == nullptr) continue;
        std::string bytes;
        bytes.reserve(left->size() + right->size());
        bytes.append(*left).append(*right);
        set(id, std::move(bytes));
    }
    for (const auto& [text, id] : special_tokens) {
        vocab.set(id, text);
    }
}

}  // namespace tessaron::basic
