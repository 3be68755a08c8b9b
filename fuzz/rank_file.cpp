// libFuzzer target: tiktoken rank files and the splitters on arbitrary bytes. The first byte
// picks a pattern. The rest is split, and the pieces must be non-empty and make up the input;
// then it is read as a rank file, and whatever table is accepted must give its rules and
// encode the input, every id being one of the table's ranks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "persist/rank_file.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/pretok/piece_encoder.hpp"
#include "tokenizer/pretok/rules_from_ranks.hpp"
#include "tokenizer/pretok/splitter.hpp"

using namespace tessaron;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const pretok::SplitPattern pattern(static_cast<pretok::Scanner>(data[0] % 3));
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::size_t covered = 0;
    pretok::for_each_piece(pattern, text, [&](std::size_t begin, std::size_t end) {
        if (begin != covered || end <= begin) std::abort();
        covered = end;
    });
    if (covered != text.size()) std::abort();

    const persist::RankFile file = persist::parse_rank_file(text);
    if (!file.error.empty()) return 0;
    const pretok::RulesFromRanks derived = pretok::rules_from_ranks(file.tokens);
    if (!derived.error.empty()) return 0;
    basic::MergeMap merges;
    for (std::size_t i = 0; i < derived.rules.size(); ++i) merges.insert(derived.rules[i], 256 + i);
    basic::Model model;
    model.replace(std::move(merges), {}, "");
    std::vector<std::uint32_t> tokens;
    const std::unique_ptr<pretok::KnownPieces> known = pretok::known_pieces_of(model);
    pretok::PieceEncoder encoder(model.encode_tables(), pattern, *known);
    encoder.encode(text, tokens);
    // The table only saves work: each piece merged alone gives the same tokens.
    std::vector<std::uint32_t> merged;
    pretok::for_each_piece(pattern, text, [&](std::size_t begin, std::size_t end) {
        if (end - begin == 1) {
            merged.push_back(static_cast<unsigned char>(text[begin]));
        } else {
            encoder.merge(text.substr(begin, end - begin), merged);
        }
    });
    if (merged != tokens) std::abort();
    std::unordered_set<TokenId> ranks;
    for (const auto& token : file.tokens) ranks.insert(token.rank);
    for (const std::uint32_t token : tokens) {
        if (!ranks.count(derived.rank_of_id[model.encode_tables().token_ids()[token]])) {
            std::abort();
        }
    }
    return 0;
}
