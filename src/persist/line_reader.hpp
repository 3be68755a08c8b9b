// Reads a file line by line through an 8192-byte buffer, never holding more than the
// current line. A line ends at LF, with one CR right before it dropped too; the last
// line may lack its LF. Each line must be valid UTF-8 on its own.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "support/io_error.hpp"

namespace tessaron::persist {

class LineReader {
public:
    static constexpr std::size_t kCapacity = 8192;

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();

    IoStatus open(const std::string& path);
    // Fills `line` and sets `got_line`; at the end of the file `got_line` is false.
    IoStatus next_line(std::string& line, bool& got_line);

private:
    IoStatus refill();

    int fd_ = -1;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::array<char, kCapacity> buffer_;
};

}  // namespace tessaron::persist
