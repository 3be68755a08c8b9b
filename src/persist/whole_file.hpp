// Saving a file so that it is replaced whole or not at all.
//
// A regular file, or a name not yet taken, is written to a new file in the same folder,
// flushed to disk and renamed over the target only once every byte is written: after any
// failure the previous file is exactly as it was and the new one is gone. Symbolic links
// are followed and the file they name is replaced, keeping its permission bits; a new file
// gets 0666 less the umask. Anything else (a device such as /dev/full, a pipe) cannot be
// replaced and is written in place, as is a file whose folder refuses new entries.
#pragma once

#include <functional>
#include <string>

#include "persist/text_sink.hpp"
#include "support/io_status.hpp"

namespace tessaron::persist {

// `write` puts the whole text into the sink; it may run twice when a replacement has to
// give way to writing in place.
IoStatus write_whole_file(const std::string& path, const std::function<void(TextSink&)>& write);

}  // namespace tessaron::persist
