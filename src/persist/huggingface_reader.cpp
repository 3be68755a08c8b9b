#include <string_view>
#include <unordered_map>

#include "persist/byte_alphabet.hpp"
#include "persist/huggingface_file.hpp"
#include "support/json.hpp"
#include "support/seeded_hash.hpp"
#include "support/string_index.hpp"
#include "tokenizer/pretok/split_pattern.hpp"

namespace tessaron::persist {

namespace {

using json::Kind;
using json::Value;

struct Refused {
    std::size_t offset;
    std::string what;
};

[[noreturn]] void refuse(const Value& at, std::string what) {
    throw Refused{at.offset, std::move(what)};
}

const Value& member(const Value& object, std::string_view key, Kind kind, std::string_view what) {
    const Value* value = object.find(key);
    if (value == nullptr)
        refuse(object, std::string(what) + " has no \"" + std::string(key) + "\"");
    if (value->kind != kind) refuse(*value, "\"" + std::string(key) + "\" has the wrong type");
    return *value;
}

// A member that must be absent, null or the given "off" value.
void require_off(const Value& object, std::string_view key, std::string_view why) {
    const Value* value = object.find(key);
    if (value == nullptr || value->is_null()) return;
    if (value->kind == Kind::Bool && !value->boolean) return;
    if (value->kind == Kind::String && value->text.empty()) return;
    refuse(*value, std::string(why) + " is not supported");
}

std::string_view type_of(const Value& object) {
    const Value* type = object.find("type");
    if (type == nullptr || type->kind != Kind::String) refuse(object, "a part without a \"type\"");
    return type->text;
}

bool flag(const Value& object, std::string_view key, bool otherwise) {
    const Value* value = object.find(key);
    if (value == nullptr || value->is_null()) return otherwise;
    if (value->kind != Kind::Bool)
        refuse(*value, "\"" + std::string(key) + "\" has the wrong type");
    return value->boolean;
}

// ByteLevel: bytes to the alphabet, with GPT-2's split when it uses its regex.
void read_byte_level(const Value& part, bool regex_allowed, std::string& pattern) {
    if (flag(part, "add_prefix_space", true)) {
        refuse(part, "ByteLevel with add_prefix_space is not supported");
    }
    if (flag(part, "use_regex", true)) {
        if (!regex_allowed) refuse(part, "ByteLevel after a Split must not split again");
        pattern = std::string(pretok::expression_of(pretok::Scanner::kGpt2));
    }
}

void read_split(const Value& part, std::string& pattern) {
    const Value& expression = member(part, "pattern", Kind::Object, "Split");
    const Value* regex = expression.find("Regex");
    if (regex == nullptr || regex->kind != Kind::String) {
        refuse(expression, "Split by a plain string is not supported");
    }
    const Value* behavior = part.find("behavior");
    if (behavior == nullptr || behavior->kind != Kind::String || behavior->text != "Isolated") {
        refuse(behavior ? *behavior : part,
               "Split behaviours other than Isolated are not supported");
    }
    if (flag(part, "invert", false)) refuse(part, "an inverted Split is not supported");
    pattern = regex->text;
}

std::string read_pre_tokenizer(const Value* pre) {
    const std::string_view want =
        "the pre-tokenizer must be ByteLevel, or a Sequence of a Split and ByteLevel";
    if (pre == nullptr || pre->kind != Kind::Object) {
        refuse(pre ? *pre : Value{}, std::string(want));
    }
    std::string pattern;
    const std::string_view type = type_of(*pre);
    if (type == "ByteLevel") {
        read_byte_level(*pre, true, pattern);
        return pattern;
    }
    if (type != "Sequence") refuse(*pre, std::string(want));
    const Value& parts = member(*pre, "pretokenizers", Kind::Array, "Sequence");
    if (parts.items.size() != 2 || parts.items[0].kind != Kind::Object ||
        parts.items[1].kind != Kind::Object || type_of(parts.items[0]) != "Split" ||
        type_of(parts.items[1]) != "ByteLevel") {
        refuse(parts, std::string(want));
    }
    read_split(parts.items[0], pattern);
    read_byte_level(parts.items[1], false, pattern);
    return pattern;
}

std::string hex_byte(unsigned b) {
    constexpr char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

ForeignParts read_parts(const Value& root) {
    if (root.kind != Kind::Object) refuse(root, "the file is not a JSON object");
    for (const char* key : {"truncation", "padding", "normalizer"}) {
        const Value* value = root.find(key);
        if (value != nullptr && !value->is_null())
            refuse(*value, std::string(key) + " is not supported");
    }
    if (const Value* post = root.find("post_processor"); post != nullptr && !post->is_null()) {
        // ByteLevel only moves offsets; the others add tokens.
        if (post->kind != Kind::Object || type_of(*post) != "ByteLevel") {
            refuse(*post, "post-processors that add tokens are not supported");
        }
    }
    ForeignParts parts;
    parts.pattern = read_pre_tokenizer(root.find("pre_tokenizer"));

    const Value& model = member(root, "model", Kind::Object, "the file");
    if (const Value* type = model.find("type"); type != nullptr) {
        if (type->kind != Kind::String || type->text != "BPE") {
            refuse(*type, "the model is not BPE");
        }
    }
    require_off(model, "dropout", "dropout");
    require_off(model, "unk_token", "unk_token");
    require_off(model, "continuing_subword_prefix", "continuing_subword_prefix");
    require_off(model, "end_of_word_suffix", "end_of_word_suffix");
    require_off(model, "byte_fallback", "byte_fallback");
    require_off(model, "ignore_merges", "ignore_merges");

    const ByteAlphabet alphabet;
    const Value& vocab = member(model, "vocab", Kind::Object, "the model");
    // The JSON reader refuses a key given twice, so every insert is new.
    StringIndex<TokenId> id_of(vocab.keys.size());
    for (std::size_t i = 0; i < vocab.keys.size(); ++i) {
        const std::optional<std::uint64_t> value = vocab.items[i].as_u64();
        if (!value) {
            refuse(vocab.items[i], "an id in the vocabulary is not a whole number below 2**64");
        }
        (void)id_of.insert(vocab.keys[i], *value);
    }
    for (unsigned b = 0; b < 256; ++b) {
        const TokenId* found = id_of.find(alphabet.spell(std::string(1, static_cast<char>(b))));
        if (found == nullptr) refuse(vocab, "no token for the byte " + hex_byte(b));
        parts.byte_ids[b] = *found;
    }

    const Value& merges = member(model, "merges", Kind::Array, "the model");
    parts.rules.reserve(merges.items.size());
    std::string joined;
    for (const Value& merge : merges.items) {
        std::string_view left, right;
        if (merge.kind == Kind::String) {
            const std::size_t space = merge.text.find(' ');
            if (space == std::string::npos ||
                merge.text.find(' ', space + 1) != std::string::npos) {
                refuse(merge, "a merge is not two tokens with a space between");
            }
            left = std::string_view(merge.text).substr(0, space);
            right = std::string_view(merge.text).substr(space + 1);
        } else if (merge.kind == Kind::Array && merge.items.size() == 2 &&
                   merge.items[0].kind == Kind::String && merge.items[1].kind == Kind::String) {
            left = merge.items[0].text;
            right = merge.items[1].text;
        } else {
            refuse(merge, "a merge is neither \"a b\" nor [\"a\", \"b\"]");
        }
        joined.assign(left);
        joined += right;
        const TokenId* l = id_of.find(left);
        const TokenId* r = id_of.find(right);
        const TokenId* m = id_of.find(joined);
        if (l == nullptr || r == nullptr || m == nullptr) {
            refuse(merge, "a merge of tokens not in the vocabulary");
        }
        if (!alphabet.read(joined)) refuse(merge, "a merge of tokens not in the byte alphabet");
        parts.rules.push_back({*l, *r, *m});
    }

    std::unordered_map<TokenId, std::size_t, SeededHash> added_ids;
    if (const Value* added = root.find("added_tokens"); added != nullptr && !added->is_null()) {
        if (added->kind != Kind::Array) refuse(*added, "\"added_tokens\" has the wrong type");
        for (const Value& token : added->items) {
            if (token.kind != Kind::Object) refuse(token, "an added token is not an object");
            const Value& content = member(token, "content", Kind::String, "an added token");
            const std::optional<std::uint64_t> id =
                member(token, "id", Kind::Number, "an added token").as_u64();
            if (!id) refuse(token, "an added token's id is not a whole number below 2**64");
            for (const char* key : {"single_word", "lstrip", "rstrip"}) {
                if (flag(token, key, false)) {
                    refuse(token, std::string("added tokens with ") + key + " are not supported");
                }
            }
            added_ids.emplace(*id, parts.special_tokens.size());
            parts.special_tokens.emplace_back(content.text, *id);
        }
    }

    // Every entry of the vocabulary must be reachable: a byte, a merge's token or an added one.
    std::unordered_map<TokenId, bool, SeededHash> reachable;
    for (const TokenId id : parts.byte_ids) reachable.emplace(id, true);
    for (const ForeignRule& rule : parts.rules) reachable.emplace(rule.made, true);
    for (const Value& id : vocab.items) {
        const TokenId value = *id.as_u64();
        if (reachable.count(value) == 0 && added_ids.count(value) == 0) {
            refuse(id, "the vocabulary's id " + std::to_string(value) +
                           " is neither a byte, nor made by a merge, nor an added token");
        }
    }
    return parts;
}

}  // namespace

HuggingFaceRead parse_huggingface(std::string_view json) {
    HuggingFaceRead read;
    json::Parsed parsed = json::parse(json);
    if (!parsed.error.empty()) {
        read.error = std::move(parsed.error);
        return read;
    }
    try {
        read.parts = read_parts(parsed.value);
    } catch (const Refused& refused) {
        read.parts = ForeignParts{};
        read.error = json::position(json, refused.offset) + ": " + refused.what;
    }
    return read;
}

}  // namespace tessaron::persist
