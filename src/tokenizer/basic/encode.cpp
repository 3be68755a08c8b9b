#include "tokenizer/basic/encode.hpp"

#include "tokenizer/basic/segment_merger.hpp"
#include "tokenizer/internal_failure.hpp"

namespace tessaron::basic {

namespace {

// Cuts the text wherever no token can span two neighbouring bytes; the pieces encode on their
// own, each in the first-level cache.
template <bool Rounds>
void encode_segments(const EncodeTables& tables, const unsigned char* bytes, std::size_t n,
                     std::vector<TokenId>& out) {
    SegmentMerger<Rounds> merger(tables);
    auto emit = [&](std::size_t begin, std::size_t end) {
        if (end - begin == 1) {
            out.push_back(bytes[begin]);
            return;
        }
        check(end - begin < 0xFFFFFFF0u, "a stretch of text too long to encode");
        merger.encode(bytes + begin, static_cast<std::uint32_t>(end - begin), out);
    };
    std::size_t begin = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (!tables.joins(bytes[i], bytes[i + 1])) {
            emit(begin, i + 1);
            begin = i + 1;
        }
    }
    emit(begin, n);
}

}  // namespace

std::vector<TokenId> encode(const TokenizerState& state, std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const EncodeTables& tables = state.encode_tables;
    std::vector<TokenId> out;
    if (n < 2 || !tables.has_rules()) {
        out.assign(bytes, bytes + n);
        return out;
    }
    out.reserve(n / 4 + 16);
    if (tables.ordered()) {
        encode_segments<false>(tables, bytes, n, out);
    } else {
        encode_segments<true>(tables, bytes, n, out);
    }
    return out;
}

}  // namespace tessaron::basic
