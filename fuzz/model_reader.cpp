// libFuzzer target: the model file reader on arbitrary bytes. Whatever it accepts must
// write back out and read again to the same special tokens and rules, and every id it
// gives an entry must decode.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "persist/model_file_reader.hpp"
#include "persist/model_file_writer.hpp"
#include "tokenizer/basic/decode.hpp"
#include "tokenizer/basic/state.hpp"

namespace {

using tessaron::TokenId;
using tessaron::basic::TokenizerState;

struct MemoryFile {
    int fd;
    std::string path;
    explicit MemoryFile(const char* name)
        : fd(::memfd_create(name, 0)), path("/proc/self/fd/" + std::to_string(fd)) {
        if (fd < 0) std::abort();
    }
    void assign(const std::uint8_t* data, std::size_t size) const {
        if (::ftruncate(fd, 0) != 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
};

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const MemoryFile input("model-in");
    static const MemoryFile output("model-out");
    input.assign(data, size);

    TokenizerState state(1);
    try {
        if (tessaron::persist::read_model_file(state, input.path)) return 0;
    } catch (const std::bad_alloc&) {
        return 0;  // a vocabulary too large to build: refused, as specified
    }

    std::vector<TokenId> ids;
    for (const auto& entry : state.vocab) ids.push_back(entry.first);
    std::string text;
    require(!tessaron::basic::decode(state, ids, text));

    require(!tessaron::persist::write_model_file(state, output.path));
    TokenizerState again(1);
    require(!tessaron::persist::read_model_file(again, output.path));
    require(again.special_tokens.size() == state.special_tokens.size());
    auto special = again.special_tokens.begin();
    for (const auto& [token, id] : state.special_tokens) {
        require(special->first == token && special->second == id);
        ++special;
    }
    require(again.merges.size() == state.merges.size());
    auto rule = again.merges.begin();
    for (const auto& [pair, id] : state.merges) {
        require(rule->first == pair);
        ++rule;
    }
    return 0;
}
