#include "tokenizer/render_token.hpp"

#include <cstdint>

namespace tessaron {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void write_escape(std::uint32_t code_point, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    char escape[6] = {'\\', 'u', kHex[(code_point >> 12) & 0xF], kHex[(code_point >> 8) & 0xF],
                      kHex[(code_point >> 4) & 0xF], kHex[code_point & 0xF]};
    out.append(escape, 6);
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

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
        // Length of the sequence and the allowed range of its second byte.
        std::size_t need;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 3;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 4;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out.append(kReplacement);
            ++i;
            continue;
        }
        std::size_t len = 1;
        if (i + 1 < n && p[i + 1] >= lo && p[i + 1] <= hi) {
            len = 2;
            while (len < need && i + len < n && is_continuation(p[i + len])) {
                ++len;
            }
        }
        if (len < need) {
            out.append(kReplacement);
            i += len;
            continue;
        }
        if (need == 2 && b == 0xC2 && p[i + 1] <= 0x9F) {
            write_escape(p[i + 1], out);  // U+0080..U+009F
        } else {
            out.append(bytes.data() + i, need);
        }
        i += need;
    }
}

}  // namespace tessaron
