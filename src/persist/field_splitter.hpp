// Splits a line into fields at runs of Unicode White_Space, ignoring white space at
// either end. The line must be valid UTF-8.
#pragma once

#include <cstddef>
#include <string_view>

namespace tessaron::persist {

class FieldSplitter {
public:
    explicit FieldSplitter(std::string_view line) : rest_(line) {}

    // Sets `field` to the next field; false when there is none left.
    bool next(std::string_view& field);

private:
    std::string_view rest_;
};

// Length in bytes of the White_Space character at the front of `text`, or 0.
std::size_t white_space_length(std::string_view text);

}  // namespace tessaron::persist
