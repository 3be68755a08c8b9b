#include "persist/line_reader.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "persist/open_file.hpp"
#include "support/utf8.hpp"

namespace tessaron::persist {

LineReader::~LineReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

IoStatus LineReader::open(const std::string& path) { return open_file(path, OpenMode::Read, fd_); }

IoStatus LineReader::refill() {
    for (;;) {
        // On Linux a directory opens fine and fails here, with EISDIR.
        const ssize_t n = ::read(fd_, buffer_.data(), kCapacity);
        if (n < 0) {
            if (errno == EINTR) continue;
            return IoError::from_errno(errno);
        }
        start_ = 0;
        end_ = static_cast<std::size_t>(n);
        return std::nullopt;
    }
}

IoStatus LineReader::next_line(std::string& line, bool& got_line) {
    line.clear();
    got_line = false;
    bool ended_by_lf = false;
    for (;;) {
        if (start_ == end_) {
            if (auto error = refill()) return error;
            if (end_ == 0) break;
        }
        const char* begin = buffer_.data() + start_;
        const std::size_t available = end_ - start_;
        const void* lf = std::memchr(begin, '\n', available);
        got_line = true;
        if (lf != nullptr) {
            const std::size_t length =
                static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
            line.append(begin, length);
            start_ += length + 1;
            ended_by_lf = true;
            break;
        }
        line.append(begin, available);
        start_ = end_;
    }
    if (ended_by_lf && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (got_line && !is_valid_utf8(line)) {
        return IoError::with_message(IoKind::InvalidData, "stream did not contain valid UTF-8");
    }
    return std::nullopt;
}

}  // namespace tessaron::persist
