#include "persist/file_writer.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "persist/open_file.hpp"

namespace tessaron::persist {

FileWriter::~FileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

IoStatus FileWriter::open(const std::string& path) {
    return open_file(path, OpenMode::WriteTruncate, fd_);
}

IoStatus FileWriter::write(std::string_view piece) {
    const std::size_t spare = kCapacity - used_;
    if (piece.size() > spare) {
        if (auto error = flush_buffer()) return error;
    }
    // A piece that cannot fit even an empty buffer skips it.
    if (piece.size() >= kCapacity) {
        return write_direct(piece);
    }
    std::memcpy(buffer_.data() + used_, piece.data(), piece.size());
    used_ += piece.size();
    return std::nullopt;
}

IoStatus FileWriter::write_number(std::uint64_t value) {
    char digits[20];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return write(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

IoStatus FileWriter::flush_buffer() {
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return IoError::from_errno(errno);
        }
        if (n == 0) {
            return IoError::with_message(IoKind::WriteZero, "failed to write the buffered data");
        }
        done += static_cast<std::size_t>(n);
    }
    used_ = 0;
    return std::nullopt;
}

IoStatus FileWriter::write_direct(std::string_view piece) {
    while (!piece.empty()) {
        const ssize_t n = ::write(fd_, piece.data(), piece.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return IoError::from_errno(errno);
        }
        if (n == 0) {
            return IoError::with_message(IoKind::WriteZero, "failed to write whole buffer");
        }
        piece.remove_prefix(static_cast<std::size_t>(n));
    }
    return std::nullopt;
}

IoStatus FileWriter::finish() {
    if (auto error = flush_buffer()) return error;
    const int fd = fd_;
    fd_ = -1;
    // A delayed write error (a full disk over NFS, say) shows up only here.
    return close_file(fd);
}

}  // namespace tessaron::persist
