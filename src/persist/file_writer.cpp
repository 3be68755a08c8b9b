#include "persist/file_writer.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessaron::persist {

void FileWriter::write(std::string_view piece) {
    if (!status_.ok()) return;
    if (piece.size() > kCapacity - used_) {
        flush_buffer();
        if (!status_.ok()) return;
    }
    // A piece that cannot fit even an empty buffer skips it.
    if (piece.size() >= kCapacity) {
        write_direct(piece);
        return;
    }
    std::memcpy(buffer_.data() + used_, piece.data(), piece.size());
    used_ += piece.size();
}

void FileWriter::flush_buffer() {
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            status_ = IoError::from_errno(errno);
            return;
        }
        if (n == 0) {
            status_ = IoError::with_message(IoKind::WriteZero, "failed to write the buffered data");
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    used_ = 0;
}

void FileWriter::write_direct(std::string_view piece) {
    while (!piece.empty()) {
        const ssize_t n = ::write(fd_, piece.data(), piece.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            status_ = IoError::from_errno(errno);
            return;
        }
        if (n == 0) {
            status_ = IoError::with_message(IoKind::WriteZero, "failed to write whole buffer");
            return;
        }
        piece.remove_prefix(static_cast<std::size_t>(n));
    }
}

IoStatus FileWriter::finish() {
    if (status_.ok()) flush_buffer();
    return status_;
}

}  // namespace tessaron::persist
