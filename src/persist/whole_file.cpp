#include "persist/whole_file.hpp"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "persist/file_writer.hpp"
#include "persist/open_file.hpp"
#include "support/random_seed.hpp"

namespace tessaron::persist {

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;
// Leaves room for the temporary name's additions within a 255-byte file name.
constexpr std::size_t kMaxBaseLength = 200;

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Links under /proc (also reached as /dev/fd/N or /dev/stdout) name open files, not paths.
bool in_proc(const std::string& folder) {
    struct statfs info{};
    return ::statfs(folder.empty() ? "." : folder.c_str(), &info) == 0 &&
           info.f_type == PROC_SUPER_MAGIC;
}

struct Resolved {
    std::string path;
    bool in_place;  // a link to an open file, not to a name: /dev/stdout, /proc/self/fd/3
};

// The name that a write to `path` would reach: symbolic links followed to their end,
// which may name a file that does not exist yet.
IoResult<Resolved> follow_links(std::string path) {
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        struct stat info{};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) return Resolved{std::move(path), false};
            return IoError::from_errno(errno);
        }
        if (!S_ISLNK(info.st_mode)) return Resolved{std::move(path), false};
        if (in_proc(folder_of(path))) return Resolved{std::move(path), true};
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n < 0) return IoError::from_errno(errno);
        if (static_cast<std::size_t>(n) == sizeof target) return IoError::from_errno(ENAMETOOLONG);
        const std::string_view link(target, static_cast<std::size_t>(n));
        path = link.starts_with('/') ? std::string(link) : folder_of(path) + std::string(link);
    }
    return IoError::from_errno(ELOOP);
}

IoStatus write_in_place(const std::string& path, const std::function<void(TextSink&)>& write) {
    IoResult<int> opened = open_file(path, OpenMode::WriteTruncate);
    if (!opened.ok()) return opened.error();
    // Closed on every way out, a throwing writer included.
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } file{opened.value()};
    FileWriter out(file.fd);
    write(out);
    IoStatus written = out.finish();
    // A delayed write error (a full disk over NFS, say) shows up only at closing.
    IoStatus closed = close_file(std::exchange(file.fd, -1));
    return written.ok() ? closed : written;
}

bool is_permission_error(const IoError& error) {
    return error.os_code == EACCES || error.os_code == EPERM;
}

// A new file beside `target`, removed again unless it is renamed over the target.
class TemporaryFile {
public:
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    static IoResult<TemporaryFile> create(const std::string& target);

    int fd() const { return fd_; }

    // Flushes the file to disk, closes it and renames it over `target`.
    IoStatus commit(const std::string& target) {
        // Without the flush a crash soon after the rename can leave an empty file behind.
        // Files that cannot be synced (EINVAL) hold nothing to flush.
        if (::fsync(fd_) != 0 && errno != EINVAL) return IoError::from_errno(errno);
        const int fd = fd_;
        fd_ = -1;
        if (IoStatus closed = close_file(fd); !closed.ok()) return closed;
        if (::rename(path_.c_str(), target.c_str()) != 0) return IoError::from_errno(errno);
        path_.clear();
        return {};
    }

    TemporaryFile(TemporaryFile&& other) noexcept
        : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {
        other.path_.clear();
    }

private:
    TemporaryFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

    std::string path_;
    int fd_;
};

IoResult<TemporaryFile> TemporaryFile::create(const std::string& target) {
    const std::string folder = folder_of(target);
    const std::string base = target.substr(folder.size(), kMaxBaseLength);
    for (int attempt = 0;; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08llx.tmp",
                      static_cast<unsigned long long>(random_seed() & 0xFFFFFFFFu));
        std::string path = folder + "." + base + suffix;
        IoResult<int> fd = open_file(path, OpenMode::CreateNew);
        if (fd.ok()) return TemporaryFile(std::move(path), fd.value());
        if (fd.error().kind != IoKind::AlreadyExists || attempt + 1 == kNameAttempts) {
            return fd.error();
        }
    }
}

}  // namespace

IoStatus write_whole_file(const std::string& path, const std::function<void(TextSink&)>& write) {
    // These names cannot be created: opening them gives the error a caller expects.
    if (path.empty() || path.ends_with('/') || path.find('\0') != std::string::npos) {
        return write_in_place(path, write);
    }
    IoResult<Resolved> resolved = follow_links(path);
    if (!resolved.ok()) return resolved.error();
    if (resolved.value().in_place) return write_in_place(path, write);
    const std::string& target = resolved.value().path;

    std::optional<mode_t> kept_mode;
    struct stat info{};
    if (::stat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) return write_in_place(path, write);
        // Replacing must not get round a file that may not be written.
        IoResult<int> probe = open_file(target, OpenMode::WriteExisting);
        if (!probe.ok()) return probe.error();
        if (IoStatus closed = close_file(probe.value()); !closed.ok()) return closed;
        kept_mode = info.st_mode & 07777;
    }

    IoResult<TemporaryFile> temporary = TemporaryFile::create(target);
    if (!temporary.ok()) {
        // A writable file in a folder that takes no new names can still be written.
        if (kept_mode && is_permission_error(temporary.error())) {
            return write_in_place(path, write);
        }
        return temporary.error();
    }
    TemporaryFile& file = temporary.value();
    if (kept_mode) {
        if (::fchmod(file.fd(), *kept_mode) != 0) return IoError::from_errno(errno);
        // Only the owner or a privileged process may hand a file over; others keep their own.
        [[maybe_unused]] const int ignored = ::fchown(file.fd(), info.st_uid, info.st_gid);
    }
    FileWriter out(file.fd());
    write(out);
    if (IoStatus written = out.finish(); !written.ok()) return written;
    IoStatus committed = file.commit(target);
    // A sticky folder lets only a file's owner rename over it.
    if (!committed.ok() && kept_mode && is_permission_error(committed.error())) {
        return write_in_place(path, write);
    }
    return committed;
}

}  // namespace tessaron::persist
