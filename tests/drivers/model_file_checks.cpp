// The model file from memory and from a file must be one format: for each file named on the
// command line, reading it and reading its bytes give the same model or the same error, and
// the bytes made in memory are the bytes a save writes. Prints one line per file, "ok", the
// error's text or MemoryError, for the caller to hold against a load through Python; failed
// checks go to standard error and make the exit status non-zero.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

#include "persist/model_file_reader.hpp"
#include "persist/model_file_writer.hpp"
#include "tokenizer/basic/model.hpp"

#include "expect.hpp"

namespace {

using tessaron::IoStatus;
using tessaron::basic::Model;
using tessaron::drivers::expect;
using tessaron::drivers::failures;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A vocabulary too large to build is refused, from memory as from a file.
template <class Read>
bool refused_for_size(Read read) {
    try {
        read();
        return false;
    } catch (const std::bad_alloc&) {
        return true;
    }
}

void check(const std::string& path, const std::string& scratch) {
    Model from_file;
    Model from_memory;
    const std::string bytes = contents(path);
    IoStatus read;
    IoStatus read_memory;
    const bool too_large =
        refused_for_size([&] { read = tessaron::persist::read_model_file(from_file, path); });
    const bool too_large_memory = refused_for_size(
        [&] { read_memory = tessaron::persist::read_model_bytes(from_memory, bytes); });
    expect(too_large == too_large_memory, path + ": file and memory disagree on the size");
    if (too_large) {
        std::printf("MemoryError\n");
        return;
    }
    expect(read.ok() == read_memory.ok(), path + ": file and memory disagree on success");
    if (!read.ok()) {
        std::printf("%s\n", read.error().text().c_str());
        if (!read_memory.ok()) {
            expect(read.error().text() == read_memory.error().text(),
                   path + ": file and memory disagree on the error");
        }
        return;
    }
    std::printf("ok\n");
    const std::string made = tessaron::persist::model_file_bytes(from_memory);
    expect(made == tessaron::persist::model_file_bytes(from_file),
           path + ": file and memory read different models");
    const IoStatus saved = tessaron::persist::write_model_file(from_file, scratch);
    expect(saved.ok() && contents(scratch) == made, path + ": a save writes other bytes");
}

}  // namespace

// Usage: model_file_checks SCRATCH_PATH MODEL_FILE...
int main(int argc, char** argv) {
    if (argc < 2) return 2;
    for (int i = 2; i < argc; ++i) {
        check(argv[i], argv[1]);
    }
    return failures == 0 ? 0 : 1;
}
