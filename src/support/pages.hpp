// Memory in whole pages straight from the system, for the large working arrays of training:
// growing one remaps its pages instead of copying them, and giving it back returns the pages
// at once. From the heap, a freed large block raises the allocator's bar for mapping blocks
// of their own, and the medium blocks that then come from the heap stay resident after
// they are freed: that kept a fifth of a training run's peak.
#pragma once

#include <cstddef>

namespace tessaron::pages {

// The bytes `bytes` takes in whole pages.
std::size_t round_up(std::size_t bytes);

// New zeroed pages for `bytes` (rounded up), or std::bad_alloc.
void* map(std::size_t bytes);
// The pages at `data` grown or shrunk from `old_bytes` to `new_bytes`, their contents kept up
// to the smaller size; they may move. std::bad_alloc leaves them where they were.
void* remap(void* data, std::size_t old_bytes, std::size_t new_bytes);
// Asks for pages of 2 MiB where the system has them, before the pages are first touched:
// an array read at random places all over then takes far fewer address translations and page
// faults. Each such page is backed whole once touched, so only for arrays filled at once.
void advise_huge(void* data, std::size_t bytes);
// Gives the pages back; nothing when data is null.
void unmap(void* data, std::size_t bytes);
// Gives back the whole pages inside [data, data + bytes), keeping them mapped: they read as
// zeros when next touched.
void discard(void* data, std::size_t bytes);

}  // namespace tessaron::pages
