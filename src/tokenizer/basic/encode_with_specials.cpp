#include "tokenizer/basic/encode_with_specials.hpp"

#include <variant>

#include "support/internal_failure.hpp"
#include "tokenizer/basic/encode.hpp"

namespace tessaron::basic {

std::uint32_t special_token_number(const Model& model, std::size_t index) {
    return static_cast<std::uint32_t>(model.encode_tables().token_ids().size() + index);
}

void encode_with_specials(const Model& model, std::string_view text, const SpecialMatcher* specials,
                          pretok::KnownPieces* known, std::vector<std::uint32_t>& out) {
    TextEncoder(model, specials, known).encode(text, out);
}

TextEncoder::TextEncoder(const Model& model, const SpecialMatcher* specials,
                         pretok::KnownPieces* known)
    : model_(model), specials_(specials) {
    // A model that carries a split pattern encodes each of its pieces on its own.
    if (!model.pattern().empty()) {
        auto pattern = pretok::split_pattern(model.pattern());
        // Models get a pattern only once it was found to run.
        check(std::holds_alternative<pretok::SplitPattern>(pattern), "a pattern that cannot run");
        check(known != nullptr, "a split pattern without its table of pieces");
        split_.emplace(model.encode_tables(), std::get<pretok::SplitPattern>(std::move(pattern)),
                       *known);
    }
}

void TextEncoder::encode_piece(std::string_view piece, std::vector<std::uint32_t>& out) {
    if (split_) {
        split_->encode(piece, out);
    } else {
        encode_into(model_, piece, out);
    }
}

void TextEncoder::encode(std::string_view text, std::vector<std::uint32_t>& out) {
    if (specials_ == nullptr) {
        encode_piece(text, out);
        return;
    }
    std::size_t at = 0;
    while (at < text.size()) {
        const SpecialMatcher::Match match = specials_->find(text, at);
        if (match.begin > at) encode_piece(text.substr(at, match.begin - at), out);
        if (match.length == 0) break;
        out.push_back(match.value);
        at = match.begin + match.length;
    }
}

}  // namespace tessaron::basic
