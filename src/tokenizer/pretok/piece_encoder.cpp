#include "tokenizer/pretok/piece_encoder.hpp"

#include <span>

#include "support/internal_failure.hpp"
#include "tokenizer/pretok/splitter.hpp"

namespace tessaron::pretok {

namespace {

// Positions within one piece are 32-bit in the merger.
constexpr std::size_t kLongestMergedPiece = 0xFFFFFFF0u;

}  // namespace

void PieceEncoder::encode(std::string_view text, std::vector<std::uint32_t>& out) {
    for_each_piece(pattern_, text, [&](std::size_t begin, std::size_t end) {
        encode_piece(text.substr(begin, end - begin), out);
    });
}

void PieceEncoder::encode_piece(std::string_view piece, std::vector<std::uint32_t>& out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
    if (piece.size() == 1 || !tables_.has_rules()) {
        out.insert(out.end(), bytes, bytes + piece.size());
        return;
    }
    if (const std::span<const std::uint32_t> known = cache_.find(piece); !known.empty()) {
        out.insert(out.end(), known.begin(), known.end());
        return;
    }
    check(piece.size() < kLongestMergedPiece, "a piece too long to encode");
    const std::size_t first = out.size();
    const auto n = static_cast<std::uint32_t>(piece.size());
    if (tables_.ordered()) {
        ordered_.encode(bytes, n, out);
    } else {
        rounds_.encode(bytes, n, out);
    }
    cache_.insert(piece, std::span(out).subspan(first));
}

}  // namespace tessaron::pretok
