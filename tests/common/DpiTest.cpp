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
    {1280, 96, 1280}, {720, 96, 720},   {13, 96, 13},    {1280, 144, 1920}, {720, 144, 1080}, {1024, 144, 1536},
    {768, 144, 1152}, {700, 144, 1050}, {512, 144, 768}, {1280, 120, 1600}, {512, 192, 1024}, {1, 144, 2},
    {13, 144, 20},    {3, 144, 5},      {45, 144, 68},   {13, 120, 16},     {-1, 144, -2},    {-13, 144, -20},
    {0, 144, 0},      {1280, 0, 1280},  {24, 168, 42},   {1, 72, 1},        {3, 72, 2},
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
