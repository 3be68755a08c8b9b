#include "persist/parse_number.hpp"

namespace tessaron::persist {

namespace {

IoError number_error(const char* message) {
    return IoError::with_message(IoKind::InvalidData, message);
}

}  // namespace

IoResult<TokenId> parse_number(std::string_view text) {
    if (text.empty()) {
        return number_error("cannot parse integer from empty string");
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty()) {
            return number_error("invalid digit found in string");
        }
    }
    // Left to right, the digit check before the range check for each character: the first
    // fault met decides the message.
    TokenId result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return number_error("invalid digit found in string");
        }
        const auto digit = static_cast<TokenId>(c - '0');
        if (__builtin_mul_overflow(result, TokenId{10}, &result) ||
            __builtin_add_overflow(result, digit, &result)) {
            return number_error("number too large to fit in target type");
        }
    }
    return result;
}

}  // namespace tessaron::persist
