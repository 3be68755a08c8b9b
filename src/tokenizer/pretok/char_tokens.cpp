#include "tokenizer/pretok/char_tokens.hpp"

#include <algorithm>
#include <array>

namespace tessaron::pretok {

namespace {

constexpr std::uint32_t kNoRank = basic::EncodeTables::kNoRank;
// Tokens above this do not fit an entry beside the flags.
constexpr std::uint32_t kMostTokens = 1u << 26;

// The bytes of the code point, 2 or 3 of them.
std::array<unsigned char, 3> utf8_of(std::uint32_t code_point, std::uint32_t& length) {
    if (code_point < 0x800) {
        length = 2;
        return {static_cast<unsigned char>(0xC0 | (code_point >> 6)),
                static_cast<unsigned char>(0x80 | (code_point & 0x3F)), 0};
    }
    length = 3;
    return {static_cast<unsigned char>(0xE0 | (code_point >> 12)),
            static_cast<unsigned char>(0x80 | ((code_point >> 6) & 0x3F)),
            static_cast<unsigned char>(0x80 | (code_point & 0x3F))};
}

}  // namespace

CharTokens::CharTokens(const basic::EncodeTables& tables) {
    if (!tables.ordered() || !tables.has_rules()) return;
    const std::size_t tokens = tables.token_ids().size();
    if (tokens > kMostTokens) return;

    // Each token's first and last byte, from the rules in rank order (parts come first).
    const std::size_t rules = tokens - 256;
    std::vector<std::uint32_t> left(rules);
    std::vector<std::uint32_t> right(rules);
    tables.ranks().for_each_rule([&](std::uint32_t l, std::uint32_t r, std::uint32_t rank) {
        left[rank] = l;
        right[rank] = r;
    });
    std::vector<unsigned char> first(tokens);
    std::vector<unsigned char> last(tokens);
    for (unsigned b = 0; b < 256; ++b) first[b] = last[b] = static_cast<unsigned char>(b);
    for (std::size_t r = 0; r < rules; ++r) {
        first[256 + r] = first[left[r]];
        last[256 + r] = last[right[r]];
    }

    // Per token, by the kind of byte on the other side, the lowest rank of a rule that joins it
    // to a token before it (`as_right`) or after it (`as_left`).
    std::vector<std::array<std::uint32_t, 3>> as_right(tokens, {kNoRank, kNoRank, kNoRank});
    std::vector<std::array<std::uint32_t, 3>> as_left(tokens, {kNoRank, kNoRank, kNoRank});
    for (std::uint32_t r = 0; r < rules; ++r) {
        auto& to_right = as_right[right[r]][kind_of(last[left[r]])];
        to_right = std::min(to_right, r);
        auto& to_left = as_left[left[r]][kind_of(first[right[r]])];
        to_left = std::min(to_left, r);
    }

    entries_.assign(0x10000, 0);
    for (std::uint32_t code_point = 0x80; code_point < 0x10000; ++code_point) {
        if (code_point >= 0xD800 && code_point < 0xE000) continue;
        std::uint32_t length;
        const std::array<unsigned char, 3> b = utf8_of(code_point, length);
        // The character merged alone into the token of `rank`; the tokens at its first and
        // at its last edge on the way, each standing until the rank that merges it inward.
        struct Edge {
            std::uint32_t token;
            std::uint32_t until;
        };
        std::array<Edge, 2> first_edge{};
        std::array<Edge, 2> last_edge{};
        std::uint32_t rank;
        if (length == 2) {
            rank = tables.byte_rank(b[0], b[1]);
            first_edge = {Edge{b[0], rank}, Edge{b[0], rank}};
            last_edge = {Edge{b[1], rank}, Edge{b[1], rank}};
        } else {
            const std::uint32_t front = tables.byte_rank(b[0], b[1]);
            const std::uint32_t back = tables.byte_rank(b[1], b[2]);
            if (front == kNoRank && back == kNoRank) continue;
            if (front < back) {
                rank = tables.rank(256 + front, b[2]);
                first_edge = {Edge{b[0], front}, Edge{256 + front, rank}};
                last_edge = {Edge{b[2], rank}, Edge{b[2], rank}};
            } else {
                rank = tables.rank(b[0], 256 + back);
                first_edge = {Edge{b[0], rank}, Edge{b[0], rank}};
                last_edge = {Edge{b[2], back}, Edge{256 + back, rank}};
            }
        }
        if (rank == kNoRank) continue;
        std::uint32_t entry = (256 + rank) << kFlagBits;
        for (unsigned kind = 0; kind < 3; ++kind) {
            const auto stands = [&](const std::array<Edge, 2>& edge, const auto& lowest) {
                return lowest[edge[0].token][kind] > edge[0].until &&
                       lowest[edge[1].token][kind] > edge[1].until;
            };
            if (stands(first_edge, as_right)) entry |= kByteBefore << kind;
            if (stands(last_edge, as_left)) entry |= kByteAfter << kind;
        }
        entries_[code_point] = entry;
    }
}

}  // namespace tessaron::pretok
