// The bytes of all occurrence lists of a training run, in one block of pages of its own. It
// grows by remapping them: a vector would copy the block and hold the old and the new one at
// once, which set the peak memory of long runs.
#pragma once

#include <cstdint>

#include "support/pages.hpp"

namespace tessaron::basic {

class ListArena {
public:
    ListArena() = default;
    ListArena(const ListArena&) = delete;
    ListArena& operator=(const ListArena&) = delete;
    ~ListArena() { pages::unmap(data_, capacity_); }

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t capacity() const { return capacity_; }

    void reserve(std::uint64_t capacity) {
        if (capacity <= capacity_) return;
        capacity = pages::round_up(capacity);
        data_ = static_cast<std::uint8_t*>(
            data_ == nullptr ? pages::map(capacity) : pages::remap(data_, capacity_, capacity));
        capacity_ = capacity;
    }

    // New bytes are left unwritten: every list is written whole before it is read.
    void resize(std::uint64_t size) {
        reserve(size);
        size_ = size;
    }

    // Gives back the pages past the size, which the lists before a compaction had filled.
    void trim() {
        if (data_ != nullptr) pages::discard(data_ + size_, capacity_ - size_);
    }

    // Gives the memory back: a rebuild of the index needs it for other things first.
    void release() {
        pages::unmap(data_, capacity_);
        data_ = nullptr;
        size_ = 0;
        capacity_ = 0;
    }

private:
    std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t capacity_ = 0;
};

}  // namespace tessaron::basic
