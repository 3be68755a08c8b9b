// A growable array of trivially copyable values in pages of its own (support/pages.hpp):
// the parts of std::vector's interface that training's large arrays use. Capacity that was
// never written costs no memory, so growth may be generous.
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "support/pages.hpp"

namespace tessaron {

template <class T>
class PageVector {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    PageVector() = default;
    PageVector(std::size_t n, const T& value) { resize(n, value); }
    // n values that write(data) writes whole before anything reads them, on as many threads
    // as it likes: each page is zeroed by the thread that first writes it. Filled at once, so
    // its large pages back nothing it does not use.
    template <class Write>
    static PageVector written(std::size_t n, Write&& write) {
        PageVector vector;
        vector.reserve(n);
        if (n * sizeof(T) >= kHugeMin) pages::advise_huge(vector.data_, n * sizeof(T));
        write(vector.data_);
        vector.size_ = n;
        return vector;
    }
    PageVector(PageVector&& other) noexcept { swap(other); }
    PageVector& operator=(PageVector&& other) noexcept {
        PageVector(std::move(other)).swap(*this);
        return *this;
    }
    PageVector(const PageVector&) = delete;
    PageVector& operator=(const PageVector&) = delete;
    ~PageVector() { pages::unmap(data_, capacity_ * sizeof(T)); }

    void swap(PageVector& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    T& front() { return data_[0]; }
    const T& front() const { return data_[0]; }
    T& back() { return data_[size_ - 1]; }

    void reserve(std::size_t n) {
        if (n <= capacity_) return;
        // Whole pages: the rest of the last page is free capacity.
        const std::size_t bytes = pages::round_up(n * sizeof(T));
        data_ =
            static_cast<T*>(data_ == nullptr ? pages::map(bytes)
                                             : pages::remap(data_, capacity_ * sizeof(T), bytes));
        capacity_ = bytes / sizeof(T);
    }
    // Inlined with the growing kept out of line: training pushes in its innermost loops.
    [[gnu::always_inline]] void push_back(const T& value) {
        if (size_ == capacity_) [[unlikely]]
            grow();
        data_[size_++] = value;
    }
    void pop_back() { --size_; }
    void resize(std::size_t n, const T& value = T()) {
        reserve(n);
        if (n > size_) std::fill(data_ + size_, data_ + n, value);
        size_ = n;
    }
    void assign(std::size_t n, const T& value) {
        clear();
        resize(n, value);
    }
    // Keeps the capacity, as std::vector does.
    void clear() { size_ = 0; }
    // Gives every page back.
    void release() { PageVector().swap(*this); }

private:
    [[gnu::noinline]] void grow() { reserve(std::max<std::size_t>(2 * capacity_, 1)); }

    // Large pages pay only on arrays of several of them.
    static constexpr std::size_t kHugeMin = std::size_t{4} << 20;

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace tessaron
