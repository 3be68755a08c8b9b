// Opening files by a path that came from Python: a NUL inside cannot name a file.
#pragma once

#include <string>

#include "support/io_status.hpp"

namespace tessaron::persist {

enum class OpenMode {
    Read,
    WriteTruncate,  // create or truncate, for writing in place
    WriteExisting,  // an existing file, left as it is: asks whether it may be written
    CreateNew,      // a file that must not exist yet
};

// The new descriptor (close-on-exec). New files get 0666 less the umask.
IoResult<int> open_file(const std::string& path, OpenMode mode);

// Closes `fd`; reports what the system reports, except EINTR (the descriptor is gone either way).
IoStatus close_file(int fd);

}  // namespace tessaron::persist
