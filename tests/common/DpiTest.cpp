#include "common/Dpi.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

struct ScaleCase {
  int value;
  UINT dpi;
  int expected;
};

// The designed sizes at the usual scales, the halves where rounding decides
// (MulDiv rounds them away from zero), and the DPI of 0 a failed query gives.
constexpr ScaleCase kScaleCases[] = {
    {13, 96, 13},    {1280, 144, 1920}, {1280, 120, 1600}, {13, 144, 20}, {13, 120, 16},
    {-13, 144, -20}, {0, 144, 0},       {1280, 0, 1280},   {1, 72, 1},
};

TEST(ScaleForDpi, MatchesMulDivRoundingAndKeepsNinetySixExact) {
  for (const auto& c : kScaleCases) {
    SCOPED_TRACE(testing::Message() << c.value << " at " << c.dpi << " DPI");
    EXPECT_EQ(ScaleForDpi(c.value, c.dpi), c.expected);
    // The system's own rounding is the reference (a DPI of 0 is ours alone).
    if (c.dpi != 0) {
      EXPECT_EQ(ScaleForDpi(c.value, c.dpi), ::MulDiv(c.value, static_cast<int>(c.dpi), 96));
    }
  }
}

}  // namespace
