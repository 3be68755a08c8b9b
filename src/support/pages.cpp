#include "support/pages.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace tessaron::pages {

namespace {

std::size_t page_size() {
    static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

std::size_t round_up(std::size_t bytes) {
    const std::size_t page = page_size();
    return (bytes + page - 1) / page * page;
}

void* map(std::size_t bytes) {
    bytes = round_up(bytes);
    void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) throw std::bad_alloc();
    return data;
}

void* remap(void* data, std::size_t old_bytes, std::size_t new_bytes) {
    new_bytes = round_up(new_bytes);
#ifdef __SANITIZE_THREAD__
    // ThreadSanitizer does not see mremap give pages back: a later array placed where they
    // were would seem to race with the writes they held. Under it, a copy instead.
    void* moved = map(new_bytes);
    std::memcpy(moved, data, std::min(round_up(old_bytes), new_bytes));
    unmap(data, old_bytes);
#else
    void* moved = mremap(data, round_up(old_bytes), new_bytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) throw std::bad_alloc();
#endif
    return moved;
}

void advise_huge([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    madvise(data, round_up(bytes), MADV_HUGEPAGE);
#endif
}

void unmap(void* data, std::size_t bytes) {
    if (data != nullptr) munmap(data, round_up(bytes));
}

void discard(void* data, std::size_t bytes) {
    const std::size_t page = page_size();
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + bytes) / page * page;
    if (first < last) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    }
}

}  // namespace tessaron::pages
