#include "persist/model_file_reader.hpp"

#include <string_view>
#include <utility>

#include "persist/field_splitter.hpp"
#include "persist/line_reader.hpp"
#include "persist/model_file_format.hpp"
#include "persist/parse_number.hpp"

namespace tessaron::persist {

namespace {

IoError format_error(const char* message) {
    return IoError::with_message(IoKind::InvalidData, message);
}

// Splits into exactly two fields; false for any other count.
bool split_two(std::string_view line, std::string_view& first, std::string_view& second) {
    FieldSplitter fields(line);
    std::string_view extra;
    return fields.next(first) && fields.next(second) && !fields.next(extra);
}

struct ModelLines {
    std::string pattern;
    basic::SpecialTokenMap special_tokens;
    basic::MergeMap merges;
};

IoStatus read_into(LineReader& reader, ModelLines& model) {
    std::string line;
    bool got = false;

    if (auto e = reader.next_line(line, got)) return e;
    if (!got) return format_error("missing version");
    if (line != kModelFileMarker) return format_error("invalid version");

    if (auto e = reader.next_line(line, got)) return e;
    if (!got) return format_error("missing pattern");
    model.pattern = line;

    if (auto e = reader.next_line(line, got)) return e;
    if (!got) return format_error("missing number of special tokens");
    TokenId count = 0;
    if (auto e = parse_number(line, count)) return e;

    // The count is untrusted: never reserve by it.
    for (TokenId i = 0; i < count; ++i) {
        if (auto e = reader.next_line(line, got)) return e;
        if (!got) return format_error("not enough special tokens");
        std::string_view text, id_field;
        if (!split_two(line, text, id_field)) return format_error("invalid special token entry");
        TokenId id = 0;
        if (auto e = parse_number(id_field, id)) return e;
        model.special_tokens.insert(std::string(text), id);
    }

    TokenId next_id = 256;
    for (;;) {
        if (auto e = reader.next_line(line, got)) return e;
        if (!got) break;
        std::string_view left_field, right_field;
        if (!split_two(line, left_field, right_field)) return format_error("invalid merge entry");
        TokenPair pair{};
        if (auto e = parse_number(left_field, pair.left)) return e;
        if (auto e = parse_number(right_field, pair.right)) return e;
        // A repeated pair keeps its place and takes the later id; the count moves on regardless.
        model.merges.insert(pair, next_id);
        ++next_id;
    }
    return std::nullopt;
}

}  // namespace

IoStatus read_model_file(basic::Model& model, const std::string& path) {
    ModelLines lines;
    {
        LineReader reader;
        if (auto e = reader.open(path)) return e;
        if (auto e = read_into(reader, lines)) return e;
    }
    model.replace(std::move(lines.merges), std::move(lines.special_tokens),
                  std::move(lines.pattern));
    return std::nullopt;
}

}  // namespace tessaron::persist
