#include "persist/read_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "persist/open_file.hpp"

namespace tessaron::persist {

namespace {

// One read() returns at most about 2 GiB, so larger files take several anyway; smaller reads
// let the caller stop a long one.
constexpr std::size_t kLargestRead = std::size_t{64} << 20;

IoStatus read_into(int fd, std::string& out, const std::function<bool(bool)>& go_on) {
    struct stat info{};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        // One byte more, so that the read that finds the end needs no growth.
        out.reserve(out.size() + static_cast<std::size_t>(info.st_size) + 1);
    }
    for (;;) {
        if (out.capacity() == out.size()) {
            out.reserve(std::max<std::size_t>(out.size() * 2, 65536));
        }
        const std::size_t at = out.size();
        const std::size_t room = std::min(out.capacity() - at, kLargestRead);
        out.resize(at + room);
        const ssize_t got = ::read(fd, out.data() + at, room);
        const int code = errno;
        out.resize(at + (got > 0 ? static_cast<std::size_t>(got) : 0));
        if (got == 0) return {};
        if (got < 0 && code != EINTR) return IoError::from_errno(code);
        if (!go_on(got < 0)) return IoError::with_message(IoKind::Interrupted, "reading stopped");
    }
}

IoStatus read_one(const std::string& path, std::string& out,
                  const std::function<bool(bool)>& go_on) {
    IoResult<int> fd = open_file(path, OpenMode::Read);
    if (!fd.ok()) return fd.error();
    IoStatus status = read_into(fd.value(), out, go_on);
    IoStatus closed = close_file(fd.value());
    return status.ok() ? closed : status;
}

}  // namespace

IoStatus read_files(std::span<const std::string> paths, std::string& out, std::size_t& failed,
                    const std::function<bool(bool)>& go_on) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        IoStatus status = read_one(paths[i], out, go_on);
        if (!status.ok()) {
            failed = i;
            return status;
        }
    }
    return {};
}

}  // namespace tessaron::persist
