#include "persist/open_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tessaron::persist {

namespace {

int flags_for(OpenMode mode) {
    switch (mode) {
    case OpenMode::Read: return O_RDONLY | O_CLOEXEC;
    case OpenMode::WriteTruncate: return O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    case OpenMode::WriteExisting: return O_WRONLY | O_CLOEXEC;
    case OpenMode::CreateNew: return O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    }
    fail_internal("unknown open mode");
}

}  // namespace

IoResult<int> open_file(const std::string& path, OpenMode mode) {
    if (path.find('\0') != std::string::npos) {
        return IoError::with_message(IoKind::InvalidInput,
                                     "file name contained an unexpected NUL byte");
    }
    for (;;) {
        const int fd = ::open(path.c_str(), flags_for(mode), 0666);
        if (fd >= 0) return fd;
        if (errno != EINTR) return IoError::from_errno(errno);
    }
}

IoStatus close_file(int fd) {
    if (::close(fd) != 0 && errno != EINTR) {
        return IoError::from_errno(errno);
    }
    return {};
}

}  // namespace tessaron::persist
