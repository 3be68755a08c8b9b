#include "persist/line_reader.hpp"

#include <unistd.h>

#include <cerrno>

#include "support/utf8.hpp"

namespace tessaron::persist {

LineReader::LineReader(int fd) : fd_(fd), buffer_(new char[kCapacity]) {}

LineReader::~LineReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

IoStatus LineReader::refill() {
    if (fd_ < 0) return {};
    for (;;) {
        // On Linux a directory opens fine and fails here, with EISDIR.
        const ssize_t n = ::read(fd_, buffer_.get(), kCapacity);
        if (n < 0) {
            if (errno == EINTR) continue;
            return IoError::from_errno(errno);
        }
        unread_ = std::string_view(buffer_.get(), static_cast<std::size_t>(n));
        return {};
    }
}

IoResult<std::optional<std::string_view>> LineReader::next_line() {
    joined_.clear();
    bool spans_refills = false;
    bool got_line = false;
    bool ended_by_lf = false;
    std::string_view line;
    for (;;) {
        if (unread_.empty()) {
            if (IoStatus read = refill(); !read.ok()) return read.error();
            if (unread_.empty()) break;
        }
        got_line = true;
        const std::size_t lf = unread_.find('\n');
        const std::string_view piece = unread_.substr(0, lf);
        unread_.remove_prefix(lf == std::string_view::npos ? unread_.size() : lf + 1);
        if (lf != std::string_view::npos && !spans_refills) {
            line = piece;  // the usual case: the whole line sits in the buffer
            ended_by_lf = true;
            break;
        }
        joined_.append(piece);
        spans_refills = true;
        if (lf != std::string_view::npos) {
            ended_by_lf = true;
            break;
        }
    }
    if (!got_line) return std::optional<std::string_view>();
    if (spans_refills) line = joined_;
    if (ended_by_lf && line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    if (!is_valid_utf8(line)) {
        return IoError::with_message(IoKind::InvalidData, "stream did not contain valid UTF-8");
    }
    return std::optional<std::string_view>(line);
}

}  // namespace tessaron::persist
