#include "persist/rank_file.hpp"

#include <array>
#include <limits>
#include <optional>

namespace tessaron::persist {

namespace {

constexpr std::array<std::int8_t, 256> kBase64Values = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    constexpr std::string_view digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t k = 0; k < digits.size(); ++k) {
        values[static_cast<unsigned char>(digits[k])] = static_cast<std::int8_t>(k);
    }
    return values;
}();

// Standard base64 with padding, as tiktoken writes it.
std::optional<std::string> decode_base64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=') ++padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t k = 0; k < text.size() - padding; ++k) {
        const std::int8_t value = kBase64Values[static_cast<unsigned char>(text[k])];
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<char>((bits >> held) & 0xFF));
        }
    }
    // Bits left over from the padding must be zero, so that each token has one spelling.
    if ((bits & ((1u << held) - 1)) != 0) return std::nullopt;
    return out;
}

std::optional<std::uint64_t> parse_rank(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

RankFile parse_rank_file(std::string_view data) {
    RankFile file;
    std::size_t line_number = 0;
    auto fail = [&](const std::string& what) {
        file.tokens.clear();
        file.error = "line " + std::to_string(line_number) + ": " + what;
        return std::move(file);
    };
    while (!data.empty()) {
        ++line_number;
        const std::size_t end = data.find('\n');
        std::string_view line = data.substr(0, end);
        data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos ||
            line.find(' ', space + 1) != std::string_view::npos) {
            return fail("expected a base64 token, a space and a rank");
        }
        std::optional<std::string> bytes = decode_base64(line.substr(0, space));
        if (!bytes) return fail("the token is not valid base64");
        const std::optional<std::uint64_t> rank = parse_rank(line.substr(space + 1));
        if (!rank) return fail("the rank is not a number below 2**64");
        file.tokens.push_back({std::move(*bytes), *rank});
    }
    if (file.tokens.empty()) file.error = "no tokens";
    return file;
}

}  // namespace tessaron::persist
