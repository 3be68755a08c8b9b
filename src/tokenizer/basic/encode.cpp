#include "tokenizer/basic/encode.hpp"

#include "tokenizer/basic/backtrack_encoder.hpp"
#include "tokenizer/basic/segment_merger.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::basic {

namespace {

// Positions within one stretch are 32-bit.
constexpr std::size_t kLongestStretch = 0xFFFFFFF0u;

// Cuts the text wherever no token can span two neighbouring bytes; the segments encode on
// their own, each with `encode(bytes, n, out)`.
template <class EncodeSegment>
void encode_segments(const EncodeTables& tables, EncodeSegment encode, const unsigned char* bytes,
                     std::size_t n, std::vector<std::uint32_t>& out) {
    auto emit = [&](std::size_t begin, std::size_t end) {
        if (end - begin == 1) {
            out.push_back(bytes[begin]);
            return;
        }
        check(end - begin < kLongestStretch, "a stretch of text too long to encode");
        encode(bytes + begin, static_cast<std::uint32_t>(end - begin), out);
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

template <bool kRounds>
auto merger_of(SegmentMerger<kRounds>& merger) {
    return [&merger](const unsigned char* b, std::uint32_t m, std::vector<std::uint32_t>& o) {
        merger.encode(b, m, o);
    };
}

void encode_tokens(const EncodeTables& tables, std::string_view text,
                   std::vector<std::uint32_t>& tokens) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    // Bytes are their own dense numbers.
    if (n < 2 || !tables.has_rules()) {
        tokens.insert(tokens.end(), bytes, bytes + n);
        return;
    }

    // Ordered models: a search over whole tokens, or merging where the tokens are too long to
    // list or the search gives up. Other models: merging in rounds.
    if (tables.ordered() && !tables.trie().empty()) {
        BacktrackEncoder search(tables);
        SegmentMerger<false> merger(tables);
        if (n < kLongestStretch) {
            if (search.encode(bytes, static_cast<std::uint32_t>(n), tokens)) return;
            encode_segments(tables, merger_of(merger), bytes, n, tokens);
        } else {
            // Past 32-bit positions, segment by segment: searched, or merged where the search
            // gives up.
            encode_segments(
                tables,
                [&](const unsigned char* b, std::uint32_t m, std::vector<std::uint32_t>& o) {
                    if (!search.encode(b, m, o)) merger.encode(b, m, o);
                },
                bytes, n, tokens);
        }
    } else if (tables.ordered()) {
        SegmentMerger<false> merger(tables);
        encode_segments(tables, merger_of(merger), bytes, n, tokens);
    } else {
        SegmentMerger<true> merger(tables);
        encode_segments(tables, merger_of(merger), bytes, n, tokens);
    }
}

}  // namespace

std::vector<TokenId> Encoding::ids() const {
    std::vector<TokenId> ids(tokens_.size());
    for (std::size_t i = 0; i < tokens_.size(); ++i) ids[i] = id_of_[tokens_[i]];
    return ids;
}

Encoding encode(const Model& model, std::string_view text) {
    const EncodeTables& tables = model.encode_tables();
    std::vector<std::uint32_t> tokens;
    tokens.reserve(text.size() / 3 + 16);
    encode_tokens(tables, text, tokens);
    return Encoding(std::move(tokens), tables.token_ids());
}

void encode_into(const Model& model, std::string_view text, std::vector<std::uint32_t>& out) {
    // A fresh vector gets room once; one that grows keeps its geometric growth.
    if (out.capacity() == 0) out.reserve(text.size() / 3 + 16);
    encode_tokens(model.encode_tables(), text, out);
}

}  // namespace tessaron::basic
