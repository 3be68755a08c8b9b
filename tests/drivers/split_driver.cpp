// Runs the splitters for the tests. Arguments: a pattern name or expression. Standard input:
// texts, each a 4-byte little-endian length and its bytes. Standard output: per text, the
// number of pieces and each piece's length, 4-byte little-endian each. With the argument
// --expression NAME it prints the expression stored for a named pattern.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tokenizer/pretok/splitter.hpp"

namespace {

bool read_u32(std::uint32_t& value) {
    unsigned char b[4];
    if (std::fread(b, 1, 4, stdin) != 4) return false;
    value = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
    return true;
}

void write_u32(std::uint32_t value) {
    const unsigned char b[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    std::fwrite(b, 1, 4, stdout);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tessaron::pretok;
    if (argc == 3 && std::string(argv[1]) == "--expression") {
        const auto pattern = find_split_pattern(argv[2]);
        if (!pattern) return 2;
        std::cout << expression_of(*pattern);
        return 0;
    }
    if (argc != 2) return 2;
    const auto pattern = find_split_pattern(argv[1]);
    if (!pattern) {
        std::cerr << "no scanner for " << argv[1] << "\n";
        return 2;
    }
    std::uint32_t length;
    std::string text;
    std::vector<std::uint32_t> pieces;
    while (read_u32(length)) {
        text.resize(length);
        if (std::fread(text.data(), 1, length, stdin) != length) return 3;
        pieces.clear();
        for_each_piece(*pattern, text, [&](std::size_t begin, std::size_t end) {
            pieces.push_back(static_cast<std::uint32_t>(end - begin));
        });
        write_u32(static_cast<std::uint32_t>(pieces.size()));
        for (const std::uint32_t p : pieces) write_u32(p);
    }
    return 0;
}
