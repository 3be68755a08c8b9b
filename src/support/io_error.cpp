#include "support/io_error.hpp"

#include <cerrno>
#include <cstring>

namespace tessaron {

namespace {

IoKind kind_of(int code) {
    switch (code) {
    case ENOENT: return IoKind::NotFound;
    case EPERM:
    case EACCES: return IoKind::PermissionDenied;
    case ECONNREFUSED: return IoKind::ConnectionRefused;
    case ECONNRESET: return IoKind::ConnectionReset;
    case ECONNABORTED: return IoKind::ConnectionAborted;
    case EPIPE: return IoKind::BrokenPipe;
    case EEXIST: return IoKind::AlreadyExists;
    case EAGAIN: return IoKind::WouldBlock;
    case ENOTDIR: return IoKind::NotADirectory;
    case EISDIR: return IoKind::IsADirectory;
    case ETIMEDOUT: return IoKind::TimedOut;
    case EINTR: return IoKind::Interrupted;
    case ENOMEM: return IoKind::OutOfMemory;
    case EINVAL: return IoKind::InvalidInput;
    default: return IoKind::Other;
    }
}

}  // namespace

IoError IoError::from_errno(int code) { return IoError{kind_of(code), code, {}}; }

std::string IoError::text() const {
    if (os_code == 0) {
        return message;
    }
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* description = strerror_r(os_code, buffer, sizeof buffer);
    std::string out(description);
    while (!out.empty() &&
           (out.back() == ' ' || out.back() == '\n' || out.back() == '\t' || out.back() == '\r')) {
        out.pop_back();
    }
    out += " (os error ";
    out += std::to_string(os_code);
    out += ')';
    return out;
}

}  // namespace tessaron
