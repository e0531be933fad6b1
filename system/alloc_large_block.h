// Blocks for whole images and files. Such blocks are large and touched once
// from end to end, so where the system allows it they start on a huge-page
// boundary and are backed by huge pages, which takes page faults from one
// per 4 KiB to one per 2 MiB.
#pragma once

#include <cstddef>
#include <cstdint>

// bytes of memory, all zero when zeroed, from the standard allocation
// functions (std::malloc, std::calloc or posix_memalign); released with
// std::free. Null when memory runs out.
std::uint8_t* alloc_large_block(std::size_t bytes, bool zeroed);
