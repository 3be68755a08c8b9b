#include "tokenizer/pretok/rules_from_ranks.hpp"

#include <algorithm>
#include <string_view>

#include "support/internal_failure.hpp"
#include "support/string_index.hpp"

namespace tessaron::pretok {

namespace {

std::string hex_byte(unsigned char b) {
    constexpr char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

}  // namespace

RulesFromRanks rules_from_ranks(std::span<const RankedToken> tokens) {
    RulesFromRanks out;
    auto fail = [&](std::string what) {
        out.rules.clear();
        out.rank_of_id.clear();
        out.error = std::move(what);
        return std::move(out);
    };
    std::vector<const RankedToken*> by_rank;
    by_rank.reserve(tokens.size());
    for (const RankedToken& token : tokens) {
        if (token.bytes.empty()) return fail("a token is empty");
        by_rank.push_back(&token);
    }
    std::sort(by_rank.begin(), by_rank.end(),
              [](const RankedToken* a, const RankedToken* b) { return a->rank < b->rank; });
    for (std::size_t p = 1; p < by_rank.size(); ++p) {
        if (by_rank[p]->rank == by_rank[p - 1]->rank) {
            return fail("rank " + std::to_string(by_rank[p]->rank) + " is given twice");
        }
    }
    // Tokens are known by their place in rank order from here on: places compare as their
    // ranks do, and a token's id is found by its place rather than by its bytes again.
    StringIndex<std::uint64_t> place_of_bytes(tokens.size());
    for (std::size_t p = 0; p < by_rank.size(); ++p) {
        if (!place_of_bytes.insert(by_rank[p]->bytes, p)) {
            return fail("a token is given twice (rank " + std::to_string(by_rank[p]->rank) + ")");
        }
    }
    constexpr TokenId kNoId = ~TokenId{0};
    std::vector<TokenId> id_at(by_rank.size(), kNoId);
    std::vector<std::uint64_t> byte_place(256);
    out.rank_of_id.resize(256);
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::uint64_t* found = place_of_bytes.find(byte);
        if (found == nullptr) {
            return fail("no token for the byte " + hex_byte(static_cast<unsigned char>(b)));
        }
        byte_place[b] = *found;
        id_at[*found] = b;
        out.rank_of_id[b] = by_rank[*found]->rank;
    }

    // Two-byte tokens by their bytes: every derivation starts with the pairs of its bytes.
    constexpr std::uint64_t kNoToken = ~std::uint64_t{0};
    std::vector<std::uint64_t> byte_pair_place(1 << 16, kNoToken);
    for (std::size_t p = 0; p < by_rank.size(); ++p) {
        const std::string& bytes = by_rank[p]->bytes;
        if (bytes.size() != 2) continue;
        const auto first = static_cast<unsigned char>(bytes[0]);
        const auto second = static_cast<unsigned char>(bytes[1]);
        byte_pair_place[first << 8 | second] = p;
    }

    // Parts of the token being derived, as byte ranges with the place of the token each one
    // is, and per pair of neighbouring parts the place of their bytes joined (the token's own
    // place when that is no earlier token).
    std::vector<std::size_t> cuts;
    std::vector<std::uint64_t> part_place;
    std::vector<std::uint64_t> joined;
    for (std::size_t p = 0; p < by_rank.size(); ++p) {
        const std::string_view bytes = by_rank[p]->bytes;
        if (bytes.size() == 1) continue;
        const std::uint64_t none = p;
        auto place_of = [&](std::size_t k) {
            const std::uint64_t* found =
                place_of_bytes.find(bytes.substr(cuts[k], cuts[k + 2] - cuts[k]));
            return found != nullptr && *found < none ? *found : none;
        };
        cuts.resize(bytes.size() + 1);
        for (std::size_t k = 0; k <= bytes.size(); ++k) cuts[k] = k;
        part_place.resize(bytes.size());
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            part_place[k] = byte_place[static_cast<unsigned char>(bytes[k])];
        }
        joined.resize(bytes.size() - 1);
        for (std::size_t k = 0; k < joined.size(); ++k) {
            const auto first = static_cast<unsigned char>(bytes[k]);
            const auto second = static_cast<unsigned char>(bytes[k + 1]);
            joined[k] = std::min(byte_pair_place[first << 8 | second], none);
        }
        // Parts join while some neighbours make a token of lower rank: the lowest first,
        // leftmost among equals. A join changes only the pairs beside it.
        while (cuts.size() > 3) {
            const auto lowest = std::min_element(joined.begin(), joined.end());
            if (*lowest == none) break;
            const auto best = static_cast<std::size_t>(lowest - joined.begin());
            part_place[best] = *lowest;
            part_place.erase(part_place.begin() + static_cast<std::ptrdiff_t>(best) + 1);
            cuts.erase(cuts.begin() + static_cast<std::ptrdiff_t>(best) + 1);
            joined.erase(lowest);
            if (best > 0) joined[best - 1] = place_of(best - 1);
            if (best < joined.size()) joined[best] = place_of(best);
        }
        if (cuts.size() != 3) {
            return fail("the token of rank " + std::to_string(by_rank[p]->rank) +
                        " cannot be made from two tokens of lower rank");
        }
        // Both parts are tokens of lower rank, each a byte or given its id already.
        const TokenId left = id_at[part_place[0]];
        const TokenId right = id_at[part_place[1]];
        check(left != kNoId && right != kNoId, "a part has no id");
        id_at[p] = 256 + out.rules.size();
        out.rules.push_back({left, right});
        out.rank_of_id.push_back(by_rank[p]->rank);
    }
    return out;
}

}  // namespace tessaron::pretok
