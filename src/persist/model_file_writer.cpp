#include "persist/model_file_writer.hpp"

#include "persist/file_writer.hpp"
#include "persist/model_file_format.hpp"

namespace tessaron::persist {

namespace {

IoStatus write_lines(const basic::Model& model, FileWriter& out) {
    if (auto e = out.write(kModelFileMarker)) return e;
    if (auto e = out.write("\n")) return e;
    if (auto e = out.write(model.pattern())) return e;
    if (auto e = out.write("\n")) return e;
    if (auto e = out.write_number(model.special_tokens().size())) return e;
    if (auto e = out.write("\n")) return e;
    for (const auto& [text, id] : model.special_tokens()) {
        if (auto e = out.write(text)) return e;
        if (auto e = out.write(" ")) return e;
        if (auto e = out.write_number(id)) return e;
        if (auto e = out.write("\n")) return e;
    }
    for (const auto& entry : model.merges()) {
        const TokenPair& pair = entry.first;
        if (auto e = out.write_number(pair.left)) return e;
        if (auto e = out.write(" ")) return e;
        if (auto e = out.write_number(pair.right)) return e;
        if (auto e = out.write("\n")) return e;
    }
    return std::nullopt;
}

}  // namespace

IoStatus write_model_file(const basic::Model& model, const std::string& path) {
    FileWriter out;
    if (auto e = out.open(path)) return e;
    if (auto e = write_lines(model, out)) return e;
    return out.finish();
}

}  // namespace tessaron::persist
