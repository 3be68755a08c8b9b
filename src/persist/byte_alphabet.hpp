// The byte-level alphabet of GPT-2 and Hugging Face's tokenizer.json: each byte written as one
// printable character, so that tokens are strings. Printable Latin-1 bytes stand for
// themselves; the others, in order, take U+0100 onwards.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaron::persist {

class ByteAlphabet {
public:
    ByteAlphabet();

    // The UTF-8 of the character for each byte of `bytes`.
    std::string spell(std::string_view bytes) const;
    // The bytes a string of such characters stands for; nothing when a character is not one.
    std::optional<std::string> read(std::string_view text) const;

private:
    std::array<char32_t, 256> char_of_{};
    std::array<std::int16_t, 324> byte_of_{};  // per character below U+0144; -1: none
};

}  // namespace tessaron::persist
