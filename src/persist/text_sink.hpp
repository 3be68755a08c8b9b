// Where the file writers put their text: a file or memory. The format writers only write;
// whoever made the sink learns at the end whether every byte arrived.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

namespace tessaron::persist {

class TextSink {
public:
    virtual ~TextSink() = default;

    virtual void write(std::string_view piece) = 0;

    void write_number(std::uint64_t value) {
        char digits[20];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        write(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
    }
};

}  // namespace tessaron::persist
