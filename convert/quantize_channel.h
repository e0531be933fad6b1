#pragma once

#include <cstdint>

// Turns a computed component into a byte: above 255 gives 255, below 0
// gives 0, anything else is rounded half up (value + 0.5, truncated).
inline std::uint8_t quantize_channel(double value) {
  if (value > 255.0) {
    return 255;
  }
  if (value < 0.0) {
    return 0;
  }
  return static_cast<std::uint8_t>(value + 0.5);
}
