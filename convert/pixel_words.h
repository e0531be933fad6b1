// Working-image pixels as 32-bit words, for the portable kernels: the
// compiler vectorises loops over whole words (loads, shifts, stores) far
// better than loops over bytes with a gap at every fourth.
#pragma once

#include <cstdint>
#include <cstring>

#include "system/memory_word.h"

// Where byte k of a pixel in memory sits in its word: the low bits first
// on a little-endian machine, the high bits first on a big-endian one.
constexpr int byte_shift(int k) { return little_endian_memory ? 8 * k : 8 * (3 - k); }

inline std::uint32_t load_pixel_word(const std::uint8_t* pixel) {
  std::uint32_t word = 0;
  std::memcpy(&word, pixel, sizeof word);
  return word;
}

inline void store_pixel_word(std::uint8_t* pixel, std::uint32_t word) {
  std::memcpy(pixel, &word, sizeof word);
}

// Byte k of a pixel word as a float (exact).
inline float pixel_byte(std::uint32_t word, int k) {
  return static_cast<float>(static_cast<std::int32_t>((word >> byte_shift(k)) & 0xFFu));
}

// Bytes 0 to 2 of a pixel word from three values below 256; byte 3 from
// the word the destination held.
inline std::uint32_t packed_pixel_word(std::int32_t byte0, std::int32_t byte1, std::int32_t byte2,
                                       std::uint32_t held) {
  return (held & (0xFFu << byte_shift(3))) | static_cast<std::uint32_t>(byte0) << byte_shift(0) |
         static_cast<std::uint32_t>(byte1) << byte_shift(1) |
         static_cast<std::uint32_t>(byte2) << byte_shift(2);
}

// red_k R + green_k G + blue_k B for weights in thousandths: every such sum
// of bytes is a whole number below 2^24, so single precision holds it
// exactly.
inline float weighted(float red, float green, float blue, int red_k, int green_k, int blue_k) {
  return static_cast<float>(red_k) * red + static_cast<float>(green_k) * green +
         static_cast<float>(blue_k) * blue;
}

// floor(sum / 1000) for a whole number 0 <= sum <= 256000 held in a float.
// sum + 0.5 is exact, and (sum + 0.5) / 1000 lies at least 0.0005 from
// every whole number, while the two roundings of the product below move
// it by less than 256 * 2^-23 < 0.00004: truncation gives the floor.
inline float thousandths_floor(float sum) {
  return static_cast<float>(static_cast<std::int32_t>((sum + 0.5f) * 0.001f));
}
