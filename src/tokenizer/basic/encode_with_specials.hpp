// Encoding that recognises special tokens: each match becomes the special token and the text
// between matches is encoded piece by piece.
//
// The result is in token numbers: below the encoder's token count they are the encoder's own
// numbers (which index `encode_tables().token_ids()`), and from there on the model's special
// tokens in their order. So one table from numbers to ids serves both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "tokenizer/basic/model.hpp"
#include "tokenizer/pretok/known_pieces.hpp"
#include "tokenizer/pretok/piece_encoder.hpp"
#include "tokenizer/special_matcher.hpp"

namespace tessaron::basic {

// The number of the model's special token at `index`, as a matcher should report it.
std::uint32_t special_token_number(const Model& model, std::size_t index);

// Appends the numbers of `text` to `out`; with no matcher the whole text is one piece. A model
// with one of the split patterns encodes each of its pieces on its own, through `known`: the
// model's table (known_pieces_of), which must not be null then.
void encode_with_specials(const Model& model, std::string_view text, const SpecialMatcher* specials,
                          pretok::KnownPieces* known, std::vector<std::uint32_t>& out);

// The same for many texts on one thread: the pieces met in one text are at hand for the next,
// without a look-up in the model's table.
class TextEncoder {
public:
    TextEncoder(const Model& model, const SpecialMatcher* specials, pretok::KnownPieces* known);

    void encode(std::string_view text, std::vector<std::uint32_t>& out);

private:
    void encode_piece(std::string_view piece, std::vector<std::uint32_t>& out);

    const Model& model_;
    const SpecialMatcher* specials_;
    std::optional<pretok::PieceEncoder> split_;
};

}  // namespace tessaron::basic
