#include "persist/model_file_reader.hpp"

#include <optional>
#include <string_view>
#include <utility>

#include "persist/field_splitter.hpp"
#include "persist/line_reader.hpp"
#include "persist/model_file_format.hpp"
#include "persist/open_file.hpp"
#include "persist/parse_number.hpp"

namespace tessaron::persist {

namespace {

IoError format_error(const char* message) {
    return IoError::with_message(IoKind::InvalidData, message);
}

// The next line; the end of the input is the error `missing`.
IoResult<std::string_view> required_line(LineReader& reader, const char* missing) {
    auto line = reader.next_line();
    if (!line.ok()) return line.error();
    if (!line.value()) return format_error(missing);
    return *line.value();
}

struct TwoFields {
    std::string_view first;
    std::string_view second;
};

// Exactly two fields, or none for any other count.
std::optional<TwoFields> split_two(std::string_view line) {
    FieldSplitter fields(line);
    TwoFields two;
    std::string_view extra;
    if (fields.next(two.first) && fields.next(two.second) && !fields.next(extra)) return two;
    return std::nullopt;
}

struct ModelLines {
    std::string pattern;
    basic::SpecialTokenMap special_tokens;
    basic::MergeMap merges;
};

IoStatus read_into(LineReader& reader, ModelLines& model) {
    auto version = required_line(reader, "missing version");
    if (!version.ok()) return version.error();
    if (version.value() != kModelFileMarker) return format_error("invalid version");

    auto pattern = required_line(reader, "missing pattern");
    if (!pattern.ok()) return pattern.error();
    model.pattern = pattern.value();

    auto count_line = required_line(reader, "missing number of special tokens");
    if (!count_line.ok()) return count_line.error();
    auto count = parse_number(count_line.value());
    if (!count.ok()) return count.error();

    // The count is untrusted: never reserve by it.
    for (TokenId i = 0; i < count.value(); ++i) {
        auto line = required_line(reader, "not enough special tokens");
        if (!line.ok()) return line.error();
        const auto fields = split_two(line.value());
        if (!fields) return format_error("invalid special token entry");
        auto id = parse_number(fields->second);
        if (!id.ok()) return id.error();
        model.special_tokens.insert(std::string(fields->first), id.value());
    }

    TokenId next_id = 256;
    for (;;) {
        auto line = reader.next_line();
        if (!line.ok()) return line.error();
        if (!line.value()) return {};
        const auto fields = split_two(*line.value());
        if (!fields) return format_error("invalid merge entry");
        auto left = parse_number(fields->first);
        if (!left.ok()) return left.error();
        auto right = parse_number(fields->second);
        if (!right.ok()) return right.error();
        // A repeated pair keeps its place and takes the later id; the count moves on regardless.
        model.merges.insert(TokenPair{left.value(), right.value()}, next_id);
        ++next_id;
    }
}

}  // namespace

IoStatus read_model_file(basic::Model& model, const std::string& path) {
    IoResult<int> fd = open_file(path, OpenMode::Read);
    if (!fd.ok()) return fd.error();
    ModelLines lines;
    {
        LineReader reader(fd.value());
        if (IoStatus read = read_into(reader, lines); !read.ok()) return read;
    }  // the file is closed before the vocabulary is built
    model.replace(std::move(lines.merges), std::move(lines.special_tokens),
                  std::move(lines.pattern));
    return {};
}

IoStatus read_model_bytes(basic::Model& model, std::string_view bytes) {
    ModelLines lines;
    LineReader reader(bytes);
    if (IoStatus read = read_into(reader, lines); !read.ok()) return read;
    model.replace(std::move(lines.merges), std::move(lines.special_tokens),
                  std::move(lines.pattern));
    return {};
}

}  // namespace tessaron::persist
