// The steps every vector kernel takes on whole pixels, written once over
// the vector width V (vector_256 or vector_512): the channels set apart,
// Y, Cb and Cr as whole-number sums in thousandths, a sum divided by 1000,
// and the three component bytes stored back. Everything here has internal
// linkage.
#pragma once

#include <cstdint>

#include "convert/colour_constants.h"

namespace {

// Blue and red of every pixel as the 16-bit halves of each lane, and green
// with the fourth byte likewise: the operands of the weighted sums.
template <typename V>
struct channel_pairs {
  typename V::ints blue_red;
  typename V::ints green_fourth;
};

template <typename V>
channel_pairs<V> channel_pairs_of(typename V::ints pixels) {
  const typename V::ints low_bytes = V::splat_ints(0x00FF00FF);
  return {V::and_bits(pixels, low_bytes), V::and_bits(V::shift_right(pixels, 8), low_bytes)};
}

// Two signed 16-bit weights side by side in every 32-bit lane: low applies
// to the lane's low half, high to its high half (for madd16).
template <typename V>
typename V::ints weight_pair(int low, int high) {
  const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
                             static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16;
  return V::splat_ints(static_cast<int>(bits));
}

// blue * B + green * G + red * R of every pixel; the fourth byte's weight
// is 0.
template <typename V>
typename V::ints weighted_sum(const channel_pairs<V>& channels, int blue, int green, int red) {
  return V::add_ints(V::madd16(channels.blue_red, weight_pair<V>(blue, red)),
                     V::madd16(channels.green_fourth, weight_pair<V>(green, 0)));
}

// Cb, Cr and Y of every pixel times 1000: exact whole numbers. Cb and Cr
// come first because the hue estimate's long chain of dependent steps
// starts from them, and the compiler keeps this order when it schedules:
// with Y first the 256-bit hue kernel ran 3 % slower.
template <typename V>
struct colour_sums {
  typename V::ints cb;
  typename V::ints cr;
  typename V::ints y;
};

template <typename V>
colour_sums<V> colour_sums_of(typename V::ints pixels) {
  const channel_pairs<V> channels = channel_pairs_of<V>(pixels);
  return {weighted_sum(channels, colour::cb_blue_k, colour::cb_green_k, colour::cb_red_k),
          weighted_sum(channels, colour::cr_blue_k, colour::cr_green_k, colour::cr_red_k),
          weighted_sum(channels, colour::y_blue_k, colour::y_green_k, colour::y_red_k)};
}

// x / 1000 rounded down, for 0 <= x < 262144: x / 8 fits 15 bits, and
// 33555 / 2^22 exceeds 1/125 by so little (q * 1.4e-7 < 0.0044 for every
// such quotient q) that the product never reaches the next whole number.
template <typename V>
typename V::ints thousandths(typename V::ints x) {
  const typename V::ints eighths = V::shift_right(x, 3);  // high halves stay 0
  return V::shift_right(V::mulhi_u16(eighths, V::splat_ints(33555)), 6);
}

// (sum + addend) / 1000 rounded down, the addend holding the half that
// rounds and any offset.
template <typename V>
typename V::ints thousandths_plus(typename V::ints sum, int addend) {
  return thousandths<V>(V::add_ints(sum, V::splat_ints(addend)));
}

// The three component bytes in bytes 0 to 2, byte 3 from what out holds.
template <typename V>
void store_components(std::uint8_t* out, typename V::ints byte0, typename V::ints byte1,
                      typename V::ints byte2) {
  V::store_low_three_bytes(
      out, V::or_bits(V::or_bits(byte0, V::shift_left(byte1, 8)), V::shift_left(byte2, 16)));
}

}  // namespace
