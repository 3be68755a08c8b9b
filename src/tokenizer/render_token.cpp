#include "tokenizer/render_token.hpp"

#include <cstdint>

#include "support/utf8.hpp"

namespace tessaron {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void write_escape(std::uint32_t code_point, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    char escape[6] = {'\\',
                      'u',
                      kHex[(code_point >> 12) & 0xF],
                      kHex[(code_point >> 8) & 0xF],
                      kHex[(code_point >> 4) & 0xF],
                      kHex[code_point & 0xF]};
    out.append(escape, 6);
}

}  // namespace

void render_token(std::string_view bytes, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            if (b < 0x20 || b == 0x7F) {
                write_escape(b, out);
            } else {
                out.push_back(static_cast<char>(b));
            }
            ++i;
            continue;
        }
        const Utf8Step step = utf8_step(p + i, n - i);
        if (!step.valid) {
            out.append(kReplacement);
            i += step.length;
            continue;
        }
        if (b == 0xC2 && p[i + 1] <= 0x9F) {
            write_escape(p[i + 1], out);  // U+0080..U+009F
        } else {
            out.append(bytes.data() + i, step.length);
        }
        i += step.length;
    }
}

}  // namespace tessaron
