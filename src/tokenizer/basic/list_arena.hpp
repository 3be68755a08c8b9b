// The bytes of all occurrence lists of a training run, in one block. It grows by realloc,
// which moves a large block by remapping its pages: a vector would copy it and hold the old
// and the new block at once, which set the peak memory of long runs.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>

namespace tessaron::basic {

class ListArena {
public:
    ListArena() = default;
    ListArena(const ListArena&) = delete;
    ListArena& operator=(const ListArena&) = delete;
    ~ListArena() { std::free(data_); }

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t capacity() const { return capacity_; }

    void reserve(std::uint64_t capacity) {
        if (capacity <= capacity_) return;
        void* grown = std::realloc(data_, capacity);
        if (grown == nullptr) throw std::bad_alloc();
        data_ = static_cast<std::uint8_t*>(grown);
        capacity_ = capacity;
    }

    // New bytes are left unwritten: every list is written whole before it is read.
    void resize(std::uint64_t size) {
        reserve(size);
        size_ = size;
    }

    // Gives the memory back: a rebuild of the index needs it for other things first.
    void release() {
        std::free(data_);
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
