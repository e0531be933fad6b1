#include <array>
#include <vector>

#include <gtest/gtest.h>

#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"
#include "convert/quantize_channel.h"

namespace {

using pixel = std::array<int, 3>;  // bytes 0, 1, 2

struct colour_case {
  pixel source;  // blue, green, red
  pixel want;
};

using conversion = int (*)(std::uint8_t*, std::uint8_t*, std::int64_t, std::int64_t);

// Converts all cases as one image of one row and checks every pixel.
void expect_conversions(conversion convert, const std::vector<colour_case>& cases) {
  std::vector<std::uint8_t> source, destination(cases.size() * 4, 0x77);
  for (const colour_case& c : cases) {
    source.insert(source.end(),
                  {static_cast<std::uint8_t>(c.source[0]), static_cast<std::uint8_t>(c.source[1]),
                   static_cast<std::uint8_t>(c.source[2]), 0xFF});
  }
  ASSERT_EQ(convert(source.data(), destination.data(), static_cast<std::int64_t>(cases.size()), 1),
            0);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const pixel got = {destination[4 * i], destination[4 * i + 1], destination[4 * i + 2]};
    EXPECT_EQ(got, cases[i].want) << "source " << cases[i].source[0] << "," << cases[i].source[1]
                                  << "," << cases[i].source[2];
    EXPECT_EQ(destination[4 * i + 3], 0x77) << "fourth byte must be left alone";
  }
}

TEST(ConvertToYuv, KnownColours) {
  expect_conversions(convert_to_yuv,
                     {
                         {{0, 0, 0}, {128, 0, 128}},
                         {{255, 255, 255}, {128, 255, 128}},
                         {{0, 0, 255}, {85, 76, 255}},  // V is 255.5 before clamping
                         {{0, 255, 0}, {44, 150, 21}},
                         {{255, 0, 0}, {255, 29, 107}},  // U is 255.5 before clamping
                         {{128, 128, 128}, {128, 128, 128}},
                         {{0, 255, 255}, {1, 226, 149}},  // U is exactly 0.5
                         {{255, 255, 0}, {171, 179, 1}},  // V is exactly 0.5
                         {{4, 12, 0}, {126, 8, 123}},     // Y rounds up to exactly 7.5 in float
                     });
}

TEST(ConvertToHsv, KnownColours) {
  expect_conversions(convert_to_hsv,
                     {
                         {{0, 0, 0}, {0, 0, 128}},  // atan2(+0, +0) is 0: hue 127.5
                         {{255, 255, 255}, {0, 255, 236}},
                         {{0, 0, 255}, {252, 76, 204}},
                         {{0, 255, 0}, {255, 150, 37}},
                         {{255, 0, 0}, {242, 29, 121}},
                         {{251, 0, 10}, {233, 32, 123}},   // hue is exactly 122.5 once in float
                         {{247, 227, 0}, {234, 161, 80}},  // saturation is exactly 233.5 in float
                     });
}

TEST(ConvertToHsv, EveryGreyHasHue236) {
  std::vector<colour_case> greys;
  for (int g = 1; g <= 255; ++g) greys.push_back({{g, g, g}, {0, g, 236}});
  expect_conversions(convert_to_hsv, greys);
}

TEST(Conversions, RefuseToRunAndLeaveTheDestinationAlone) {
  struct refusal {
    std::int64_t width, rows;
    bool with_source, with_destination;
  };
  const refusal cases[] = {{0, 1, true, true},  {1, 0, true, true},  {-1, 1, true, true},
                           {1, -1, true, true}, {1, 1, false, true}, {1, 1, true, false}};
  for (conversion convert : {convert_to_yuv, convert_to_hsv}) {
    for (const refusal& c : cases) {
      std::vector<std::uint8_t> source(16, 50), destination(16, 0x77);
      const int got = convert(c.with_source ? source.data() : nullptr,
                              c.with_destination ? destination.data() : nullptr, c.width, c.rows);
      EXPECT_EQ(got, 1) << c.width << "x" << c.rows;
      EXPECT_EQ(destination, std::vector<std::uint8_t>(16, 0x77));
    }
  }
}

TEST(QuantizeChannel, ClampsThenRoundsHalfUp) {
  const std::pair<double, int> cases[] = {{-0.0001, 0}, {-1000.0, 0},    {0.0, 0},   {0.4999999, 0},
                                          {0.5, 1},     {1.5, 2},        {2.5, 3},   {254.5, 255},
                                          {255.0, 255}, {255.0001, 255}, {1e30, 255}};
  for (const auto& c : cases) {
    EXPECT_EQ(quantize_channel(c.first), c.second) << c.first;
  }
}

}  // namespace
