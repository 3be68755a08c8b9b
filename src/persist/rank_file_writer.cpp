#include "persist/rank_file_writer.hpp"

#include "persist/whole_file.hpp"

namespace tessaron::persist {

namespace {

std::string base64(std::string_view bytes) {
    constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t k = 0;
    auto at = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    for (; k + 3 <= bytes.size(); k += 3) {
        const std::uint32_t v = at(k) << 16 | at(k + 1) << 8 | at(k + 2);
        for (int shift = 18; shift >= 0; shift -= 6) out.push_back(digits[(v >> shift) & 63]);
    }
    const std::size_t left = bytes.size() - k;
    if (left > 0) {
        const std::uint32_t v = at(k) << 16 | (left == 2 ? at(k + 1) << 8 : 0);
        out.push_back(digits[(v >> 18) & 63]);
        out.push_back(digits[(v >> 12) & 63]);
        out.push_back(left == 2 ? digits[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

}  // namespace

void write_rank_table(std::span<const pretok::RankedToken> tokens, TextSink& out) {
    for (const pretok::RankedToken& token : tokens) {
        out.write(base64(token.bytes));
        out.write(" ");
        out.write_number(token.rank);
        out.write("\n");
    }
}

IoStatus write_rank_file(std::span<const pretok::RankedToken> tokens, const std::string& path) {
    return write_whole_file(path, [&](TextSink& out) { write_rank_table(tokens, out); });
}

}  // namespace tessaron::persist
