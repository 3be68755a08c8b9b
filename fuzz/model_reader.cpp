// libFuzzer target: the model file reader on arbitrary bytes, from a file and from memory
// alike. Whatever it accepts must write back out and read again to the same special tokens
// and rules, and every id it gives an entry must decode.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "persist/model_file_reader.hpp"
#include "persist/model_file_writer.hpp"
#include "tokenizer/basic/decode.hpp"
#include "tokenizer/basic/encode.hpp"
#include "tokenizer/basic/model.hpp"

namespace {

using tessaron::TokenId;
using tessaron::basic::Model;

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

// Each round applies the rule with the lowest new id found anywhere to all its
// non-overlapping occurrences, left to right. Loaded models never share a new id.
std::vector<TokenId> encode_by_rounds(const Model& model, const std::uint8_t* data,
                                      std::size_t size) {
    std::vector<TokenId> ids(data, data + size);
    while (ids.size() >= 2) {
        TokenId best = ~TokenId{0};
        tessaron::TokenPair pair{};
        for (std::size_t i = 0; i + 1 < ids.size(); ++i) {
            const TokenId* made = model.merges().find({ids[i], ids[i + 1]});
            if (made != nullptr && *made < best) {
                best = *made;
                pair = {ids[i], ids[i + 1]};
            }
        }
        if (best == ~TokenId{0}) break;
        std::size_t out = 0;
        for (std::size_t i = 0; i < ids.size(); ++out) {
            if (i + 1 < ids.size() && ids[i] == pair.left && ids[i + 1] == pair.right) {
                ids[out] = best;
                i += 2;
            } else {
                ids[out] = ids[i];
                i += 1;
            }
        }
        ids.resize(out);
    }
    return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const MemoryFile file("model-in");
    file.assign(data, size);
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The file, read through its buffer, and the same bytes in memory must agree.
    Model model;
    Model from_memory;
    try {
        const tessaron::IoStatus read = tessaron::persist::read_model_file(model, file.path);
        const tessaron::IoStatus read_memory =
            tessaron::persist::read_model_bytes(from_memory, input);
        require(read.ok() == read_memory.ok());
        if (!read.ok()) {
            require(read.error().text() == read_memory.error().text());
            return 0;
        }
    } catch (const std::bad_alloc&) {
        return 0;  // a vocabulary too large to build: refused with MemoryError
    }
    require(tessaron::persist::model_file_bytes(from_memory) ==
            tessaron::persist::model_file_bytes(model));

    std::vector<TokenId> ids;
    for (const auto& entry : model.vocab()) ids.push_back(entry.first);
    std::string text;
    require(tessaron::basic::decode(model, ids, text).ok());

    const auto encoded = tessaron::basic::encode(model, input);
    require(encoded.ids() == encode_by_rounds(model, data, size));

    Model again;
    const std::string written = tessaron::persist::model_file_bytes(model);
    require(tessaron::persist::read_model_bytes(again, written).ok());
    require(again.special_tokens().size() == model.special_tokens().size());
    auto special = again.special_tokens().begin();
    for (const auto& [token, id] : model.special_tokens()) {
        require(special->first == token && special->second == id);
        ++special;
    }
    require(again.merges().size() == model.merges().size());
    auto rule = again.merges().begin();
    for (const auto& [pair, id] : model.merges()) {
        require(rule->first == pair);
        ++rule;
    }
    return 0;
}
