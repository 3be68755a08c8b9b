// Reads lines from a file through an 8192-byte buffer, never holding more than the current
// line, or from bytes already in memory. A line ends at LF, with one CR right before it
// dropped too; the last line may lack its LF. Each line must be valid UTF-8 on its own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "support/io_status.hpp"

namespace tessaron::persist {

class LineReader {
public:
    static constexpr std::size_t kCapacity = 8192;

    // Reads the file open on `fd` and closes it when done.
    explicit LineReader(int fd);
    // Reads `bytes`, which must outlive the reader.
    explicit LineReader(std::string_view bytes) : unread_(bytes) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();

    // The next line, valid until the next call, or no line at the end of the input.
    IoResult<std::optional<std::string_view>> next_line();

private:
    // Refills the buffer from the file; leaves nothing unread at its end.
    IoStatus refill();

    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;
    std::string_view unread_;
    std::string joined_;  // a line that spans refills
};

}  // namespace tessaron::persist
