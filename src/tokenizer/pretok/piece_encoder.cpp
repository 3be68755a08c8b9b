#include "tokenizer/pretok/piece_encoder.hpp"

#include <algorithm>
#include <span>

#include "support/internal_failure.hpp"
#include "tokenizer/pretok/short_piece_merger.hpp"
#include "tokenizer/pretok/splitter.hpp"

namespace tessaron::pretok {

namespace {

// Positions within one piece are 32-bit in the merger.
constexpr std::size_t kLongestMergedPiece = 0xFFFFFFF0u;
// Tokens whose bytes are merged side by side when the table is made.
constexpr std::size_t kMergedTogether = 64;

}  // namespace

std::unique_ptr<KnownPieces> known_pieces_of(const basic::Model& model) {
    const basic::EncodeTables& tables = model.encode_tables();
    const std::span<const TokenId> ids = tables.token_ids();
    std::size_t words = 0;
    // Looked up once: each look-up in the vocabulary is a wait for memory.
    std::vector<const std::string*> token_bytes(ids.size());
    for (std::size_t t = 0; t < ids.size(); ++t) {
        token_bytes[t] = model.token_bytes(ids[t]);
        if (token_bytes[t] != nullptr) words += 1 + (token_bytes[t]->size() + 3) / 4;
    }
    auto known = std::make_unique<KnownPieces>(ids.size(), words);
    known->set_chars(CharTokens(tables));
    // A token's bytes need not encode to the token itself (rules learned elsewhere, or edited),
    // so each is merged like any piece; the 256 single bytes never reach the table. Short ones
    // are merged a group at a time, side by side, so that their rank look-ups wait at once.
    PieceEncoder encoder(tables, SplitPattern(Scanner::kGpt2), *known);  // only merges: any pattern
    std::vector<std::uint32_t> tokens;
    std::vector<ShortPieceMerger> group(kMergedTogether);
    std::vector<const std::string*> group_bytes;
    const auto add_group = [&] {
        ShortPieceMerger::merge_together(tables, std::span(group).first(group_bytes.size()));
        for (std::size_t k = 0; k < group_bytes.size(); ++k) {
            known->add(*group_bytes[k], group[k].tokens());
        }
        group_bytes.clear();
    };
    for (std::size_t t = 256; t < ids.size(); ++t) {
        const std::string* bytes = token_bytes[t];
        if (bytes == nullptr || bytes->size() < 2) continue;
        if (tables.ordered() && bytes->size() <= ShortPieceMerger::kLongestBytes &&
            group[group_bytes.size()].start(tables, known->chars(),
                                            reinterpret_cast<const unsigned char*>(bytes->data()),
                                            static_cast<std::uint32_t>(bytes->size()))) {
            group_bytes.push_back(bytes);
            if (group_bytes.size() == kMergedTogether) add_group();
            continue;
        }
        tokens.clear();
        encoder.merge(*bytes, tokens);
        known->add(*bytes, tokens);
    }
    add_group();
    return known;
}

void PieceEncoder::encode(std::string_view text, std::vector<std::uint32_t>& out) {
    misses_.clear();
    gaps_.clear();
    miss_slots_.fill(0);
    for_each_piece(pattern_, text, [&](std::size_t begin, std::size_t end) {
        const std::string_view piece = text.substr(begin, end - begin);
        if (piece.size() == 1 || !tables_.has_rules()) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
            out.insert(out.end(), bytes, bytes + piece.size());
            return;
        }
        const std::uint64_t h = cache_->hash(piece);
        const std::span<const std::uint32_t> met = cache_->find(piece, h);
        if (met.empty()) {
            set_aside(piece, h, out.size());
            if (misses_.size() == kMostMisses) fill_gaps(out);
        } else if (met.size() == 1) {
            // Most pieces are one token, which needs no copy loop.
            out.push_back(met.front());
        } else {
            out.insert(out.end(), met.begin(), met.end());
        }
    });
    fill_gaps(out);
}

void PieceEncoder::merge(std::string_view piece, std::vector<std::uint32_t>& out) {
    check(piece.size() < kLongestMergedPiece, "a piece too long to encode");
    const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
    const auto n = static_cast<std::uint32_t>(piece.size());
    if (tables_.ordered() && n <= ShortPieceMerger::kLongestBytes &&
        ShortPieceMerger::encode(tables_, known_.chars(), bytes, n, out)) {
        return;
    }
    if (tables_.ordered()) {
        ordered_.encode(bytes, n, out);
    } else {
        rounds_.encode(bytes, n, out);
    }
}

void PieceEncoder::set_aside(std::string_view piece, std::uint64_t cache_hash, std::size_t at) {
    // A piece met twice among those set aside is looked up and merged once.
    std::size_t slot = cache_hash >> kMissSlotShift;
    for (; miss_slots_[slot] != 0; slot = (slot + 1) % kMissSlots) {
        const std::uint32_t m = miss_slots_[slot] - 1u;
        if (misses_[m].cache_hash == cache_hash && misses_[m].bytes == piece) {
            gaps_.push_back({at, m});
            return;
        }
    }
    miss_slots_[slot] = static_cast<std::uint8_t>(misses_.size() + 1);
    // The cache hashes a long piece as the model's table does.
    const std::uint64_t known_hash =
        piece.size() > PieceCache::kLongestInline ? cache_hash : known_.hash(piece);
    known_.prefetch(known_hash);
    gaps_.push_back({at, static_cast<std::uint32_t>(misses_.size())});
    misses_.push_back({piece, cache_hash, known_hash, {}, kNotShort, 0, 0});
}

void PieceEncoder::fill_gaps(std::vector<std::uint32_t>& out) {
    if (gaps_.empty()) return;
    // The model's table, then the merges, short pieces side by side.
    std::size_t short_count = 0;
    merged_.clear();
    for (const Miss& miss : misses_) known_.prefetch_entry(miss.known_hash);
    for (Miss& miss : misses_) {
        miss.tokens = known_.find(miss.bytes, miss.known_hash);
        if (!miss.tokens.empty()) continue;
        const auto n = static_cast<std::uint32_t>(miss.bytes.size());
        if (tables_.ordered() && n <= ShortPieceMerger::kLongestBytes &&
            shorts_[short_count].start(tables_, known_.chars(),
                                       reinterpret_cast<const unsigned char*>(miss.bytes.data()),
                                       n)) {
            miss.short_piece = static_cast<std::uint32_t>(short_count++);
        } else {
            miss.merged_at = merged_.size();
            merge(miss.bytes, merged_);
            miss.merged_length = merged_.size() - miss.merged_at;
        }
    }
    ShortPieceMerger::merge_together(tables_, std::span(shorts_).first(short_count));
    for (Miss& miss : misses_) {
        if (miss.short_piece == kNotShort) continue;
        const std::span<const std::uint32_t> tokens = shorts_[miss.short_piece].tokens();
        miss.merged_at = merged_.size();
        miss.merged_length = tokens.size();
        merged_.insert(merged_.end(), tokens.begin(), tokens.end());
    }
    // Spans into merged_ once it has stopped growing.
    for (Miss& miss : misses_) {
        if (miss.merged_length != 0) {
            miss.tokens = {merged_.data() + miss.merged_at, miss.merged_length};
        }
    }
    std::size_t added = 0;
    for (const Gap& gap : gaps_) added += misses_[gap.miss].tokens.size();

    // From the last gap back, the output behind each gap moves up by the tokens of the gaps
    // up to it.
    std::size_t end = out.size();
    out.resize(end + added);
    for (auto gap = gaps_.rbegin(); gap != gaps_.rend(); ++gap) {
        const std::span<const std::uint32_t> tokens = misses_[gap->miss].tokens;
        std::copy_backward(out.begin() + static_cast<std::ptrdiff_t>(gap->at),
                           out.begin() + static_cast<std::ptrdiff_t>(end),
                           out.begin() + static_cast<std::ptrdiff_t>(end + added));
        added -= tokens.size();
        std::copy(tokens.begin(), tokens.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(gap->at + added));
        end = gap->at;
    }

    for (const Miss& miss : misses_) {
        if (miss.merged_length != 0) known_.learn(miss.bytes, miss.known_hash, miss.tokens);
        cache_->insert(miss.bytes, miss.cache_hash, miss.tokens);
    }
    misses_.clear();
    gaps_.clear();
    miss_slots_.fill(0);
}

}  // namespace tessaron::pretok
