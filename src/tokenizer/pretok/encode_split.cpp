#include "tokenizer/pretok/encode_split.hpp"

#include "tokenizer/pretok/piece_encoder.hpp"

namespace tessaron::pretok {

basic::Encoding encode_split(const basic::Model& model, SplitPattern pattern,
                             std::string_view text) {
    std::vector<std::uint32_t> tokens;
    tokens.reserve(text.size() / 4 + 16);
    const std::unique_ptr<KnownPieces> known = known_pieces_of(model);
    PieceEncoder(model.encode_tables(), pattern, *known).encode(text, tokens);
    return basic::Encoding(std::move(tokens), model.encode_tables().token_ids());
}

}  // namespace tessaron::pretok
