// A 32-bit word whose bytes in memory are the four given, whatever the
// machine's byte order: for loops that move whole pixels as words.
#pragma once

#include <cstdint>
#include <cstring>

// The machine's byte order, as the compiler defines it: true when the low
// byte of a word comes first in memory.
constexpr bool little_endian_memory = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

inline std::uint32_t word_of_bytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2,
                                   std::uint8_t b3) {
  const std::uint8_t bytes[4] = {b0, b1, b2, b3};
  std::uint32_t word = 0;
  std::memcpy(&word, bytes, 4);
  return word;
}
