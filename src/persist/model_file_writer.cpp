#include "persist/model_file_writer.hpp"

#include "persist/file_writer.hpp"
#include "persist/model_file_format.hpp"

namespace tessaron::persist {

namespace {

IoStatus write_lines(const basic::TokenizerState& state, FileWriter& out) {
    if (auto e = out.write(kModelFileMarker)) return e;
    if (auto e = out.write("\n")) return e;
    if (auto e = out.write(state.pattern)) return e;
    if (auto e = out.write("\n")) return e;
    if (auto e = out.write_number(state.special_tokens.size())) return e;
    if (auto e = out.write("\n")) return e;
    for (const auto& [text, id] : state.special_tokens) {
        if (auto e = out.write(text)) return e;
        if (auto e = out.write(" ")) return e;
        if (auto e = out.write_number(id)) return e;
        if (auto e = out.write("\n")) return e;
    }
    for (const auto& entry : state.merges) {
        const TokenPair& pair = entry.first;
        if (auto e = out.write_number(pair.left)) return e;
        if (auto e = out.write(" ")) return e;
        if (auto e = out.write_number(pair.right)) return e;
        if (auto e = out.write("\n")) return e;
    }
    return std::nullopt;
}

}  // namespace

IoStatus write_model_file(const basic::TokenizerState& state, const std::string& path) {
    FileWriter out;
    if (auto e = out.open(path)) return e;
    if (auto e = write_lines(state, out)) return e;
    return out.finish();
}

}  // namespace tessaron::persist
