#include "persist/open_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tessaron::persist {

IoStatus open_file(const std::string& path, OpenMode mode, int& fd) {
    if (path.find('\0') != std::string::npos) {
        return IoError::with_message(IoKind::InvalidInput,
                                     "file name contained an unexpected NUL byte");
    }
    const int flags =
        mode == OpenMode::Read ? O_RDONLY | O_CLOEXEC : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    for (;;) {
        fd = ::open(path.c_str(), flags, 0666);
        if (fd >= 0) return std::nullopt;
        if (errno != EINTR) return IoError::from_errno(errno);
    }
}

IoStatus close_file(int fd) {
    if (::close(fd) != 0 && errno != EINTR) {
        return IoError::from_errno(errno);
    }
    return std::nullopt;
}

}  // namespace tessaron::persist
