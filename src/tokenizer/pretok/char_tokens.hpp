// The characters of two and three bytes that an ordered model merges into one token before
// any rule can join their bytes to what stands beside them. A piece's merge may then start from
// that token instead of the bytes: merging one character's bytes is a step per byte, half the
// steps of a multilingual piece.
//
// Why it is exact: say the rules merge the bytes of a character alone into one token T at rank
// R, and no rule of a rank below R joins a token at the character's first edge (its first byte,
// and what holds that byte before T is made) to any token before it, nor one at its last edge
// to any token after it. Whatever stands beside the character, its bytes then merge among
// themselves, in their own order, until T is made at R; the merges elsewhere do not touch them
// and leave them alone. In an ordered model no rule takes T as a part below R, so starting from
// T only leaves out the steps that made it. The rules that join the edges are told apart by
// the kind of byte they meet on the other side (an ASCII byte, a continuation byte, the first
// byte of a longer character), which the piece shows.
#pragma once

#include <cstdint>
#include <vector>

#include "tokenizer/basic/encode_tables.hpp"

namespace tessaron::pretok {

class CharTokens {
public:
    CharTokens() = default;
    // Empty unless the tables are ordered.
    explicit CharTokens(const basic::EncodeTables& tables);

    // The length of the character at bytes[i] within bytes[0..n), when it may start as its
    // token, which goes to `token`; else 0.
    std::uint32_t at(const unsigned char* bytes, std::uint32_t i, std::uint32_t n,
                     std::uint32_t& token) const {
        if (entries_.empty()) return 0;
        const unsigned char b = bytes[i];
        std::uint32_t length;
        std::uint32_t code_point;
        if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (bytes[i + 1] & 0xC0) == 0x80) {
            length = 2;
            code_point = ((b & 0x1Fu) << 6) | (bytes[i + 1] & 0x3Fu);
        } else if (b >= 0xE0 && b <= 0xEF && i + 2 < n && (bytes[i + 1] & 0xC0) == 0x80 &&
                   (bytes[i + 2] & 0xC0) == 0x80) {
            length = 3;
            code_point =
                ((b & 0x0Fu) << 12) | ((bytes[i + 1] & 0x3Fu) << 6) | (bytes[i + 2] & 0x3Fu);
            // Overlong forms and surrogates are no characters.
            if (code_point < 0x800 || (code_point >= 0xD800 && code_point < 0xE000)) return 0;
        } else {
            return 0;
        }
        const std::uint32_t entry = entries_[code_point];
        const unsigned before = i == 0 ? kAll : kByteBefore << kind_of(bytes[i - 1]);
        const unsigned after = i + length == n ? kAll : kByteAfter << kind_of(bytes[i + length]);
        if ((entry & before) == 0 || (entry & after) == 0) return 0;
        token = entry >> kFlagBits;
        return length;
    }

private:
    // Bytes by the rules they may meet: ASCII, continuation, first of a longer character.
    static unsigned kind_of(unsigned char b) { return b < 0x80 ? 0 : b < 0xC0 ? 1 : 2; }

    // Per entry: the token, then per kind of byte before the character and per kind after it,
    // whether it may start as its token there.
    static constexpr unsigned kByteBefore = 1;
    static constexpr unsigned kByteAfter = 8;
    static constexpr unsigned kFlagBits = 6;
    // Any flag of the side: nothing stands there.
    static constexpr unsigned kAll = 0x3F;

    std::vector<std::uint32_t> entries_;  // by code point below 0x10000; 0 when none
};

}  // namespace tessaron::pretok
