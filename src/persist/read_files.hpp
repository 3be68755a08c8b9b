// Reads files whole, one after the other, into one buffer: the input of training on files.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "support/io_status.hpp"

namespace tessaron::persist {

// Appends the bytes of every file to `out`, in order. On failure `failed` is the index of the
// file that could not be opened or read. After every read (of at most 64 MiB), and after a read
// that a signal cut short (`signalled`), `go_on(signalled)` is asked whether to carry on; when
// it says no, the reading stops with an Interrupted error.
IoStatus read_files(std::span<const std::string> paths, std::string& out, std::size_t& failed,
                    const std::function<bool(bool signalled)>& go_on);

}  // namespace tessaron::persist
