// A sink that keeps the text in memory: the bytes a file would have held.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "persist/text_sink.hpp"

namespace tessaron::persist {

class MemorySink final : public TextSink {
public:
    void write(std::string_view piece) override { bytes_.append(piece); }
    std::string take() { return std::move(bytes_); }

private:
    std::string bytes_;
};

}  // namespace tessaron::persist
