#include "tokenizer/pretok/piece_encoder.hpp"

#include <span>

#include "support/internal_failure.hpp"
#include "tokenizer/pretok/short_piece_merger.hpp"
#include "tokenizer/pretok/splitter.hpp"

namespace tessaron::pretok {

namespace {

// Positions within one piece are 32-bit in the merger.
constexpr std::size_t kLongestMergedPiece = 0xFFFFFFF0u;

}  // namespace

std::unique_ptr<KnownPieces> known_pieces_of(const basic::Model& model) {
    const basic::EncodeTables& tables = model.encode_tables();
    const std::span<const TokenId> ids = tables.token_ids();
    std::size_t words = 0;
    for (const TokenId id : ids) {
        if (const std::string* bytes = model.token_bytes(id)) words += 1 + (bytes->size() + 3) / 4;
    }
    auto known = std::make_unique<KnownPieces>(ids.size(), words);
    // A token's bytes need not encode to the token itself (rules learned elsewhere, or edited),
    // so each is merged like any piece; the 256 single bytes never reach the table.
    PieceEncoder encoder(tables, SplitPattern(Scanner::kGpt2), *known);  // only merges: any pattern
    std::vector<std::uint32_t> tokens;
    for (std::size_t t = 256; t < ids.size(); ++t) {
        const std::string* bytes = model.token_bytes(ids[t]);
        if (bytes == nullptr || bytes->size() < 2) continue;
        tokens.clear();
        encoder.merge(*bytes, tokens);
        known->add(*bytes, tokens);
    }
    return known;
}

void PieceEncoder::encode(std::string_view text, std::vector<std::uint32_t>& out) {
    for_each_piece(pattern_, text, [&](std::size_t begin, std::size_t end) {
        encode_piece(text.substr(begin, end - begin), out);
    });
}

void PieceEncoder::merge(std::string_view piece, std::vector<std::uint32_t>& out) {
    check(piece.size() < kLongestMergedPiece, "a piece too long to encode");
    const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
    const auto n = static_cast<std::uint32_t>(piece.size());
    if (tables_.ordered() && n <= ShortPieceMerger::kLongest) {
        ShortPieceMerger::encode(tables_, bytes, n, out);
    } else if (tables_.ordered()) {
        ordered_.encode(bytes, n, out);
    } else {
        rounds_.encode(bytes, n, out);
    }
}

void PieceEncoder::encode_piece(std::string_view piece, std::vector<std::uint32_t>& out) {
    if (piece.size() == 1 || !tables_.has_rules()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
        out.insert(out.end(), bytes, bytes + piece.size());
        return;
    }
    const std::uint64_t h = cache_.hash(piece);
    if (const std::span<const std::uint32_t> met = cache_.find(piece, h); !met.empty()) {
        // Most pieces are one token, which needs no copy loop.
        if (met.size() == 1) {
            out.push_back(met.front());
        } else {
            out.insert(out.end(), met.begin(), met.end());
        }
        return;
    }
    const std::size_t first = out.size();
    const std::uint64_t known_hash = known_.hash(piece);
    if (const auto found = known_.find(piece, known_hash); !found.empty()) {
        out.insert(out.end(), found.begin(), found.end());
    } else {
        merge(piece, out);
        known_.learn(piece, known_hash, std::span(out).subspan(first));
    }
    cache_.insert(piece, h, std::span(out).subspan(first));
}

}  // namespace tessaron::pretok
