// libFuzzer target: tokenizer.json files (and so the JSON reader) on arbitrary bytes. Whatever
// is accepted must build a model or be refused with a reason, and a model that a tokenizer.json
// can hold must read back from the file written for it with the same bytes, rules and special
// tokens.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "persist/huggingface_file.hpp"
#include "persist/memory_sink.hpp"
#include "tokenizer/foreign_model.hpp"

using namespace tessaron;

namespace {

bool same(const ForeignParts& a, const ForeignParts& b) {
    if (a.byte_ids != b.byte_ids || a.rules.size() != b.rules.size() ||
        a.special_tokens != b.special_tokens) {
        return false;
    }
    for (std::size_t k = 0; k < a.rules.size(); ++k) {
        const ForeignRule& x = a.rules[k];
        const ForeignRule& y = b.rules[k];
        if (x.left != y.left || x.right != y.right || x.made != y.made) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const persist::HuggingFaceRead read = persist::parse_huggingface(text);
    if (!read.error.empty()) return 0;
    const ForeignBuild build = build_foreign_model(read.parts);
    if (!build.built) {
        if (build.error.empty()) std::abort();
        return 0;
    }
    const ForeignExport out = export_foreign_model(build.built->model, &build.built->ids);
    if (!out.error.empty()) std::abort();  // rules built in order export in order
    if (!persist::huggingface_check(out).empty()) return 0;
    persist::MemorySink sink;
    persist::write_huggingface(out, sink);
    const std::string written = sink.take();
    const persist::HuggingFaceRead again = persist::parse_huggingface(written);
    if (!again.error.empty() || !same(again.parts, out.parts)) std::abort();
    return 0;
}
