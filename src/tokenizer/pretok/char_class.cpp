#include "tokenizer/pretok/char_class.hpp"

#include "support/utf8.hpp"

namespace tessaron::pretok {

CharAt multibyte_char_at(const unsigned char* p, std::size_t n) {
    const Utf8Step step = utf8_step(p, n);
    if (!step.valid) return {kOther, static_cast<std::uint32_t>(step.length)};
    char32_t c = p[0] & (0x7F >> step.length);
    for (std::size_t k = 1; k < step.length; ++k) c = (c << 6) | (p[k] & 0x3F);
    return {class_of(c), static_cast<std::uint32_t>(step.length)};
}

}  // namespace tessaron::pretok
