#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "persist/byte_alphabet.hpp"
#include "persist/huggingface_file.hpp"
#include "persist/whole_file.hpp"
#include "support/seeded_hash.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::persist {

namespace {

// A JSON string of valid UTF-8 text.
void write_string(std::string_view text, TextSink& out) {
    constexpr char hex[] = "0123456789abcdef";
    out.write("\"");
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.write(text.substr(plain, i - plain));
        plain = i + 1;
        if (c == '"' || c == '\\') {
            const char escaped[2] = {'\\', static_cast<char>(c)};
            out.write(std::string_view(escaped, 2));
        } else {
            const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.write(std::string_view(escaped, 6));
        }
    }
    out.write(text.substr(plain));
    out.write("\"");
}

void write_byte_level(bool use_regex, TextSink& out) {
    out.write(R"({"type": "ByteLevel", "add_prefix_space": false, "trim_offsets": true, )");
    out.write(use_regex ? R"("use_regex": true})" : R"("use_regex": false})");
}

void write_pre_tokenizer(const std::string& pattern, TextSink& out) {
    const auto known = pretok::find_scanner(pattern);
    if (pattern.empty() || known == pretok::Scanner::kGpt2) {
        write_byte_level(!pattern.empty(), out);
        return;
    }
    out.write(R"({"type": "Sequence", "pretokenizers": [{"type": "Split", "pattern": {"Regex": )");
    write_string(known ? pretok::huggingface_expression_of(*known) : std::string_view(pattern),
                 out);
    out.write(R"(}, "behavior": "Isolated", "invert": false}, )");
    write_byte_level(false, out);
    out.write("]}");
}

}  // namespace

std::string huggingface_check(const ForeignExport& model) {
    constexpr TokenId kLargest = std::numeric_limits<std::uint32_t>::max();
    auto too_large = [](TokenId id) {
        return "the id " + std::to_string(id) + " does not fit a tokenizer.json (ids are 32-bit)";
    };
    for (const TokenId id : model.parts.byte_ids) {
        if (id > kLargest) return too_large(id);
    }
    for (const ForeignRule& rule : model.parts.rules) {
        if (rule.made > kLargest) return too_large(rule.made);
    }
    for (const auto& special : model.parts.special_tokens) {
        if (special.second > kLargest) return too_large(special.second);
    }
    if (!pretok::find_scanner(model.parts.pattern) && !model.parts.pattern.empty()) {
        if (std::string why = pretok::huggingface_difference(model.parts.pattern); !why.empty())
            return why;
    }
    // The vocabulary is keyed by the tokens' spellings, special tokens by their text.
    const ByteAlphabet alphabet;
    std::unordered_set<std::string, SeededHash> seen;
    for (unsigned b = 0; b < 256; ++b)
        seen.insert(alphabet.spell(std::string(1, static_cast<char>(b))));
    for (std::size_t k = 0; k < model.rule_bytes.size(); ++k) {
        if (!seen.insert(alphabet.spell(model.rule_bytes[k])).second) {
            return "the id " + std::to_string(model.parts.rules[k].made) +
                   " stands for the same bytes as another, which a tokenizer.json cannot hold";
        }
    }
    for (const auto& [text, id] : model.parts.special_tokens) {
        if (!seen.insert(text).second) {
            return "the special token of id " + std::to_string(id) +
                   " is spelled like another token in a tokenizer.json";
        }
    }
    return {};
}

void write_huggingface(const ForeignExport& model, TextSink& out) {
    const ForeignParts& parts = model.parts;
    const ByteAlphabet alphabet;
    out.write("{\n  \"version\": \"1.0\",\n  \"truncation\": null,\n  \"padding\": null,\n");
    out.write("  \"added_tokens\": [");
    const char* separator = "\n    ";
    for (const auto& [text, id] : parts.special_tokens) {
        out.write(separator);
        out.write("{\"id\": ");
        out.write_number(id);
        out.write(", \"content\": ");
        write_string(text, out);
        out.write(
            ", \"single_word\": false, \"lstrip\": false, \"rstrip\": false, "
            "\"normalized\": false, \"special\": true}");
        separator = ",\n    ";
    }
    out.write(parts.special_tokens.empty() ? "],\n" : "\n  ],\n");
    out.write("  \"normalizer\": null,\n  \"pre_tokenizer\": ");
    write_pre_tokenizer(parts.pattern, out);
    out.write(",\n  \"post_processor\": null,\n  \"decoder\": ");
    out.write(R"({"type": "ByteLevel", "add_prefix_space": true, "trim_offsets": true, )"
              R"("use_regex": true})");
    out.write(
        ",\n  \"model\": {\n    \"type\": \"BPE\",\n    \"dropout\": null,\n"
        "    \"unk_token\": null,\n    \"continuing_subword_prefix\": null,\n"
        "    \"end_of_word_suffix\": null,\n    \"fuse_unk\": false,\n"
        "    \"byte_fallback\": false,\n    \"vocab\": {");

    // The vocabulary by id, as Hugging Face writes it.
    std::vector<std::pair<TokenId, std::string>> vocab;
    vocab.reserve(256 + parts.rules.size());
    for (unsigned b = 0; b < 256; ++b) {
        vocab.emplace_back(parts.byte_ids[b], alphabet.spell(std::string(1, static_cast<char>(b))));
    }
    std::vector<std::string> spelled;  // per rule, the spelling of its token
    spelled.reserve(parts.rules.size());
    for (std::size_t k = 0; k < parts.rules.size(); ++k) {
        spelled.push_back(alphabet.spell(model.rule_bytes[k]));
        vocab.emplace_back(parts.rules[k].made, spelled.back());
    }
    // Hugging Face takes an added token's id from the vocabulary, so they are in it too.
    for (const auto& [text, id] : parts.special_tokens) vocab.emplace_back(id, text);
    std::sort(vocab.begin(), vocab.end());
    separator = "\n      ";
    for (const auto& [id, text] : vocab) {
        out.write(separator);
        write_string(text, out);
        out.write(": ");
        out.write_number(id);
        separator = ",\n      ";
    }
    out.write("\n    },\n    \"merges\": [");

    std::unordered_map<TokenId, std::string_view, SeededHash> spelling;
    for (const auto& [id, text] : vocab) spelling.emplace(id, text);
    separator = "\n      ";
    for (const ForeignRule& rule : parts.rules) {
        // No token of the alphabet holds a space, so the pair reads back unambiguously.
        out.write(separator);
        write_string(
            std::string(spelling.at(rule.left)) + " " + std::string(spelling.at(rule.right)), out);
        separator = ",\n      ";
    }
    out.write("\n    ]\n  }\n}\n");
}

IoStatus write_huggingface_file(const ForeignExport& model, const std::string& path) {
    return write_whole_file(path, [&](TextSink& out) { write_huggingface(model, out); });
}

}  // namespace tessaron::persist
