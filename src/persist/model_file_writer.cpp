#include "persist/model_file_writer.hpp"

#include "persist/memory_sink.hpp"
#include "persist/model_file_format.hpp"
#include "persist/whole_file.hpp"

namespace tessaron::persist {

void write_model(const basic::Model& model, TextSink& out) {
    out.write(kModelFileMarker);
    out.write("\n");
    out.write(model.pattern());
    out.write("\n");
    out.write_number(model.special_tokens().size());
    out.write("\n");
    for (const auto& [text, id] : model.special_tokens()) {
        out.write(text);
        out.write(" ");
        out.write_number(id);
        out.write("\n");
    }
    for (const auto& entry : model.merges()) {
        out.write_number(entry.first.left);
        out.write(" ");
        out.write_number(entry.first.right);
        out.write("\n");
    }
}

IoStatus write_model_file(const basic::Model& model, const std::string& path) {
    return write_whole_file(path, [&](TextSink& out) { write_model(model, out); });
}

std::string model_file_bytes(const basic::Model& model) {
    MemorySink out;
    write_model(model, out);
    return out.take();
}

}  // namespace tessaron::persist
