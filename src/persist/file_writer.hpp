// Buffered writer over a file descriptor it does not own: 8192-byte buffer, writes retried
// on EINTR, a write that stores nothing reported as WriteZero. The first failure sticks:
// later writes are skipped and finish() reports it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "persist/text_sink.hpp"
#include "support/io_status.hpp"

namespace tessaron::persist {

class FileWriter final : public TextSink {
public:
    static constexpr std::size_t kCapacity = 8192;

    explicit FileWriter(int fd) : fd_(fd) {}
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void write(std::string_view piece) override;
    // Writes out the buffer; success only when every byte reached the file.
    IoStatus finish();

private:
    void flush_buffer();
    void write_direct(std::string_view piece);

    int fd_;
    std::size_t used_ = 0;
    IoStatus status_;
    std::array<char, kCapacity> buffer_;
};

}  // namespace tessaron::persist
