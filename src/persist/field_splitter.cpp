#include "persist/field_splitter.hpp"

namespace tessaron::persist {

std::size_t white_space_length(std::string_view text) {
    if (text.empty()) return 0;
    const auto b0 = static_cast<unsigned char>(text[0]);
    if ((b0 >= 0x09 && b0 <= 0x0D) || b0 == 0x20) return 1;
    if (b0 < 0xC2 || text.size() < 2) return 0;
    const auto b1 = static_cast<unsigned char>(text[1]);
    if (b0 == 0xC2) {
        return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;  // U+0085, U+00A0
    }
    if (text.size() < 3) return 0;
    const auto b2 = static_cast<unsigned char>(text[2]);
    switch (b0) {
    case 0xE1:  // U+1680
        return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
    case 0xE2:
        if (b1 == 0x80) {  // U+2000..U+200A, U+2028, U+2029, U+202F
            return (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
        }
        return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
    case 0xE3:  // U+3000
        return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
    default: return 0;
    }
}

namespace {

// Length of the UTF-8 sequence that starts with `lead` (the text is valid).
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

}  // namespace

bool FieldSplitter::next(std::string_view& field) {
    while (std::size_t n = white_space_length(rest_)) {
        rest_.remove_prefix(n);
    }
    if (rest_.empty()) return false;
    std::size_t length = 0;
    while (length < rest_.size() && white_space_length(rest_.substr(length)) == 0) {
        length += sequence_length(static_cast<unsigned char>(rest_[length]));
    }
    field = rest_.substr(0, length);
    rest_.remove_prefix(length);
    return true;
}

}  // namespace tessaron::persist
