// Hugging Face's tokenizer.json for byte-level BPE: the model's vocabulary and merges in the
// byte alphabet, its added tokens, and a ByteLevel pre-tokenizer (with GPT-2's pattern, or
// after a Split by a pattern of its own). Everything else that would change the ids
// (normalizers, dropout, byte fallback, word prefixes and suffixes, added tokens that strip
// or match whole words, post-processors that add tokens) is refused by name, as is anything
// not JSON. The file is untrusted.
#pragma once

#include <string>
#include <string_view>

#include "persist/text_sink.hpp"
#include "support/io_status.hpp"
#include "tokenizer/foreign_model.hpp"

namespace tessaron::persist {

struct [[nodiscard]] HuggingFaceRead {
    ForeignParts parts;  // ids are the file's
    std::string error;   // one line, with the place in the file where there is one
};

HuggingFaceRead parse_huggingface(std::string_view json);

// The file of an exported model. Fails with the reason when an id does not fit in 32 bits.
std::string huggingface_check(const ForeignExport& model);
void write_huggingface(const ForeignExport& model, TextSink& out);
IoStatus write_huggingface_file(const ForeignExport& model, const std::string& path);

}  // namespace tessaron::persist
