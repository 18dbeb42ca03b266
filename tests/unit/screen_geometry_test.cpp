// The pixel arithmetic behind `shot`: capture sizes, the crop rectangle and the display choice.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fakes/fake_capture.hpp"
#include "mirlet/screen/geometry.hpp"

namespace mirlet::testing {
namespace {

TEST(ScreenGeometry, WindowCaptureSizeIsTwiceTheTruncatedFrameAndAtLeastTwo) {
  struct Case {
    Rect frame;
    PixelSize expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {{0, 0, 100.7, 50.2}, {200, 100}},
      {{-30.5, 7.25, 80, 80}, {160, 160}},
      {{0, 0, 0.99, 0.2}, {2, 2}},
      {{0, 0, 0, 0}, {2, 2}},
      {{0, 0, 1, 1.999}, {2, 2}},
      {{0, 0, 2.5, 3}, {4, 6}},
      {{500, 500, -300.9, -200}, {600, 400}},  // a rectangle counted from its other corner
      {{0, 0, std::nan(""), inf}, {2, std::int64_t{1} << 53}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.frame.width << " x " << c.frame.height);
    EXPECT_EQ(windowCaptureSize(c.frame), c.expected);
  }
}

TEST(ScreenGeometry, DisplayCaptureSizeIsTwiceItsPointsAndAtLeastTwo) {
  Display display = makeDisplay(1, {0, 0, 1920, 1080});
  EXPECT_EQ(displayCaptureSize(display), (PixelSize{3840, 2160}));
  display.width = 0;
  display.height = 1;
  EXPECT_EQ(displayCaptureSize(display), (PixelSize{2, 2}));
}

TEST(ScreenGeometry, CropRectangleIsTheWindowInDisplayPixelsUnrounded) {
  struct Case {
    Rect window;
    Rect display;
    Rect expected;
  };
  const std::vector<Case> cases = {
      {{110, 60, 300, 200}, {100, 50, 1920, 1080}, {20, 20, 600, 400}},
      {{0.25, 10.5, 100.7, 50.2}, {0, 0, 800, 600}, {0.5, 21, 201.4, 100.4}},
      {{-50, -20, 100, 100}, {0, 0, 800, 600}, {-100, -40, 200, 200}},
      {{1900, 0, 100, 100}, {1920, 0, 1280, 1024}, {-40, 0, 200, 200}},
  };
  for (const auto& c : cases) {
    const Rect crop = cropRectangle(c.window, c.display);
    EXPECT_DOUBLE_EQ(crop.x, c.expected.x);
    EXPECT_DOUBLE_EQ(crop.y, c.expected.y);
    EXPECT_DOUBLE_EQ(crop.width, c.expected.width);
    EXPECT_DOUBLE_EQ(crop.height, c.expected.height);
  }
}

TEST(ScreenGeometry, DisplayHoldingTheMidpointIsChosenEdgesLeftTopInclusive) {
  // Two side by side, 100 x 100 each, and one far below overlapping nothing.
  const std::vector<Display> displays = {makeDisplay(1, {0, 0, 100, 100}),
                                         makeDisplay(2, {100, 0, 100, 100}),
                                         makeDisplay(3, {0, 500, 100, 100})};
  struct Case {
    Rect window;  // 20 x 20, so the midpoint is origin + 10
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {{40, 40, 20, 20}, 1},
      {{90, 40, 20, 20}, 2},    // midpoint on display 2's left edge
      {{-10, 40, 20, 20}, 1},   // midpoint on display 1's left edge
      {{40, -10, 20, 20}, 1},   // on the top edge
      {{40, 90, 20, 20}, 1},    // on display 1's bottom edge: below it, so nowhere, so the first
      {{40, 490, 20, 20}, 3},   // on display 3's top edge
      {{40, 590, 20, 20}, 1},   // on display 3's bottom edge: nowhere
      {{190, 40, 20, 20}, 1},   // on display 2's right edge: nowhere
      {{189, 40, 20, 20}, 2},
      {{5000, 5000, 20, 20}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.window.x << ", " << c.window.y);
    const auto chosen = displayForWindow(displays, c.window);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->displayID, c.expected);
  }
  EXPECT_FALSE(displayForWindow({}, {0, 0, 10, 10}));
}

}  // namespace
}  // namespace mirlet::testing
