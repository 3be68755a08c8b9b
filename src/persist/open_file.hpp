// Opening files by a path that came from Python: a NUL inside cannot name a file.
#pragma once

#include <string>

#include "support/io_error.hpp"

namespace tessaron::persist {

enum class OpenMode { Read, WriteTruncate };

// On success `fd` holds the new descriptor (close-on-exec).
IoStatus open_file(const std::string& path, OpenMode mode, int& fd);

// Closes `fd`; reports what the system reports, except EINTR (the descriptor is gone either way).
IoStatus close_file(int fd);

}  // namespace tessaron::persist
