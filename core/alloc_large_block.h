// Blocks for whole images and files. Such blocks are large and touched once
// from end to end, so where the system allows it they are backed by huge
// pages, which takes page faults from one per 4 KiB to one per 2 MiB.
#pragma once

#include <cstddef>
#include <cstdint>

// bytes from std::malloc, or from std::calloc when zeroed; released with
// std::free. Null when memory runs out.
std::uint8_t* alloc_large_block(std::size_t bytes, bool zeroed);
