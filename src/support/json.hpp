// A strict JSON reader (RFC 8259) for files from elsewhere: the whole text must be one value,
// strings must be well-formed UTF-8 with escapes that spell Unicode scalar values, objects may
// not repeat a key, and nesting is bounded so that a hostile file cannot exhaust the stack.
// Numbers are kept as their text; readers convert the ones they need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaron::json {

enum class Kind { Null, Bool, Number, String, Array, Object };

struct Value {
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text;  // a string's contents or a number's literal
    std::vector<Value> items;        // an array's items, or an object's values
    std::vector<std::string> keys;   // an object's keys, beside its values, in the file's order
    std::size_t offset = 0;                              // where the value starts in the text

    bool is_null() const { return kind == Kind::Null; }
    // The member's value, or null when there is no such member (or this is not an object).
    const Value* find(std::string_view key) const;
    // A number that is a whole decimal below 2**64, without sign, fraction or exponent.
    std::optional<std::uint64_t> as_u64() const;
};

struct [[nodiscard]] Parsed {
    Value value;
    std::string error;  // "line L, column C: what", empty when the text is one JSON value
};

inline constexpr std::size_t kMaxDepth = 64;

Parsed parse(std::string_view text);

// "line L, column C" of a byte offset, columns counted in bytes from 1.
std::string position(std::string_view text, std::size_t offset);

}  // namespace tessaron::json
