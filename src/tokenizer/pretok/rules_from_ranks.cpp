#include "tokenizer/pretok/rules_from_ranks.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "support/internal_failure.hpp"
#include "support/seeded_hash.hpp"
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
    StringIndex<std::uint64_t> rank_of_bytes(tokens.size());
    std::unordered_set<std::uint64_t, SeededHash> ranks;
    ranks.reserve(tokens.size());
    for (const RankedToken& token : tokens) {
        if (token.bytes.empty()) return fail("a token is empty");
        if (!rank_of_bytes.insert(token.bytes, token.rank)) {
            return fail("a token is given twice (rank " + std::to_string(token.rank) + ")");
        }
        if (!ranks.insert(token.rank).second) {
            return fail("rank " + std::to_string(token.rank) + " is given twice");
        }
        by_rank.push_back(&token);
    }
    std::sort(by_rank.begin(), by_rank.end(),
              [](const RankedToken* a, const RankedToken* b) { return a->rank < b->rank; });

    out.rank_of_id.resize(256);
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::uint64_t* found = rank_of_bytes.find(byte);
        if (found == nullptr) {
            return fail("no token for the byte " + hex_byte(static_cast<unsigned char>(b)));
        }
        out.rank_of_id[b] = *found;
    }
    StringIndex<TokenId> id_of_bytes(tokens.size());
    for (const RankedToken* token : by_rank) {
        if (token->bytes.size() == 1) {
            (void)id_of_bytes.insert(token->bytes, static_cast<unsigned char>(token->bytes[0]));
        }
    }

    // Two-byte tokens by their bytes: every derivation starts with the pairs of its bytes.
    constexpr std::uint64_t kNoToken = ~std::uint64_t{0};
    std::vector<std::uint64_t> byte_pair_rank(1 << 16, kNoToken);
    for (const RankedToken* token : by_rank) {
        if (token->bytes.size() != 2) continue;
        const auto first = static_cast<unsigned char>(token->bytes[0]);
        const auto second = static_cast<unsigned char>(token->bytes[1]);
        byte_pair_rank[first << 8 | second] = token->rank;
    }

    // Parts of the token being derived, as byte ranges, and per pair of neighbouring parts
    // the rank of their bytes joined (the token's own rank when that is no lower token).
    std::vector<std::size_t> cuts;
    std::vector<std::uint64_t> joined;
    for (const RankedToken* token : by_rank) {
        const std::string_view bytes = token->bytes;
        if (bytes.size() == 1) continue;
        const std::uint64_t none = token->rank;
        auto rank_of = [&](std::size_t k) {
            const std::uint64_t* found =
                rank_of_bytes.find(bytes.substr(cuts[k], cuts[k + 2] - cuts[k]));
            return found != nullptr && *found < none ? *found : none;
        };
        cuts.resize(bytes.size() + 1);
        for (std::size_t k = 0; k <= bytes.size(); ++k) cuts[k] = k;
        joined.resize(bytes.size() - 1);
        for (std::size_t k = 0; k < joined.size(); ++k) {
            const auto first = static_cast<unsigned char>(bytes[k]);
            const auto second = static_cast<unsigned char>(bytes[k + 1]);
            joined[k] = std::min(byte_pair_rank[first << 8 | second], none);
        }
        // Parts join while some neighbours make a token of lower rank: the lowest first,
        // leftmost among equals. A join changes only the pairs beside it.
        while (cuts.size() > 3) {
            const auto lowest = std::min_element(joined.begin(), joined.end());
            if (*lowest == none) break;
            const auto best = static_cast<std::size_t>(lowest - joined.begin());
            cuts.erase(cuts.begin() + static_cast<std::ptrdiff_t>(best) + 1);
            joined.erase(lowest);
            if (best > 0) joined[best - 1] = rank_of(best - 1);
            if (best < joined.size()) joined[best] = rank_of(best);
        }
        if (cuts.size() != 3) {
            return fail("the token of rank " + std::to_string(token->rank) +
                        " cannot be made from two tokens of lower rank");
        }
        // Both parts are tokens of lower rank, each a byte or given its id already.
        const TokenId* left = id_of_bytes.find(bytes.substr(0, cuts[1]));
        const TokenId* right = id_of_bytes.find(bytes.substr(cuts[1]));
        check(left != nullptr && right != nullptr, "a part has no id");
        const TokenId id = 256 + out.rules.size();
        out.rules.push_back({*left, *right});
        out.rank_of_id.push_back(token->rank);
        (void)id_of_bytes.insert(bytes, id);
    }
    return out;
}

}  // namespace tessaron::pretok
