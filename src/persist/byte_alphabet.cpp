#include "persist/byte_alphabet.hpp"

namespace tessaron::persist {

namespace {

bool stands_for_itself(unsigned b) {
    return (b >= 0x21 && b <= 0x7E) || (b >= 0xA1 && b <= 0xAC) || (b >= 0xAE && b <= 0xFF);
}

}  // namespace

ByteAlphabet::ByteAlphabet() {
    byte_of_.fill(-1);
    char32_t next = 0x100;
    for (unsigned b = 0; b < 256; ++b) {
        const char32_t c = stands_for_itself(b) ? b : next++;
        char_of_[b] = c;
        byte_of_[c] = static_cast<std::int16_t>(b);
    }
}

std::string ByteAlphabet::spell(std::string_view bytes) const {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const char32_t c = char_of_[static_cast<unsigned char>(byte)];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> ByteAlphabet::read(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        char32_t c;
        if (b0 < 0x80) {
            c = b0;
            i += 1;
        } else if ((b0 & 0xE0) == 0xC0 && i + 1 < text.size()) {
            c = static_cast<char32_t>((b0 & 0x1F) << 6 |
                                      (static_cast<unsigned char>(text[i + 1]) & 0x3F));
            i += 2;
        } else {
            return std::nullopt;  // every character of the alphabet takes one or two bytes
        }
        if (c >= byte_of_.size() || byte_of_[c] < 0) return std::nullopt;
        out.push_back(static_cast<char>(byte_of_[c]));
    }
    return out;
}

}  // namespace tessaron::persist
