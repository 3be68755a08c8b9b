// Buffered writer over one file descriptor: 8192-byte buffer, writes retried on EINTR,
// a write that stores nothing reported as WriteZero.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/io_error.hpp"

namespace tessaron::persist {

class FileWriter {
public:
    static constexpr std::size_t kCapacity = 8192;

    FileWriter() = default;
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;
    // Closes without writing out the buffer: only finish() reports success.
    ~FileWriter();

    // Creates or truncates the file.
    IoStatus open(const std::string& path);
    IoStatus write(std::string_view piece);
    IoStatus write_number(std::uint64_t value);
    // Writes out the buffer and closes the file.
    IoStatus finish();

private:
    IoStatus flush_buffer();
    IoStatus write_direct(std::string_view piece);

    int fd_ = -1;
    std::size_t used_ = 0;
    std::array<char, kCapacity> buffer_;
};

}  // namespace tessaron::persist
