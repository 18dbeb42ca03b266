// Cutting a rectangle out of a picture: outward to whole pixels, clipped, nothing on a miss.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fakes/fake_capture.hpp"
#include "mirlet/platform/image.hpp"

namespace mirlet::testing {
namespace {

TEST(ImageCrop, EdgesMoveOutwardAndClipToThePicture) {
  const Image picture = coordinateImage(200, 100);
  struct Case {
    Rect rect;
    bool meets;
    std::uint32_t x, y, width, height;  // the expected part
  };
  const std::vector<Case> cases = {
      {{20, 20, 60, 40}, true, 20, 20, 60, 40},
      {{20.5, 19.9, 10, 10}, true, 20, 19, 11, 11},   // 20..30.5 -> 20..31, 19.9..29.9 -> 19..30
      {{0, 0, 200, 100}, true, 0, 0, 200, 100},
      {{-40, -10, 100, 50}, true, 0, 0, 60, 40},
      {{150, 80, 100, 100}, true, 150, 80, 50, 20},
      {{-10, -10, 500, 500}, true, 0, 0, 200, 100},
      {{80, 60, -20, -30}, true, 60, 30, 20, 30},       // counted from the other corner
      {{199.5, 99.5, 0.2, 0.2}, true, 199, 99, 1, 1},
      {{200, 0, 10, 10}, false, 0, 0, 0, 0},            // touches the right edge only
      {{0, -10, 10, 10}, false, 0, 0, 0, 0},            // touches the top edge only
      {{-500, -500, 100, 100}, false, 0, 0, 0, 0},
      {{50, 50, 0, 0}, false, 0, 0, 0, 0},              // empty
      {{std::nan(""), 0, 10, 10}, false, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rect.x << ", " << c.rect.y << ", " << c.rect.width
                                      << ", " << c.rect.height);
    const auto part = cropImage(picture, c.rect);
    ASSERT_EQ(part.has_value(), c.meets);
    if (!part) continue;
    EXPECT_EQ(part->width, c.width);
    EXPECT_EQ(part->height, c.height);
    // Every row of the part starts at the right source pixel and the pixels are shared.
    EXPECT_EQ(part->bytesPerRow, picture.bytesPerRow);
    for (std::uint32_t row : {0u, part->height - 1}) {
      EXPECT_EQ(part->row(row)[0], static_cast<std::uint8_t>(c.x));
      EXPECT_EQ(part->row(row)[1], static_cast<std::uint8_t>(c.y + row));
      EXPECT_EQ(part->row(row)[(part->width - 1) * 4], static_cast<std::uint8_t>(c.x + c.width - 1));
    }
    EXPECT_EQ(part->storage, picture.storage);
  }
}

TEST(ImageCrop, ACropOfACropStaysInsideTheFirst) {
  const Image picture = coordinateImage(100, 100);
  const auto first = cropImage(picture, {10, 10, 50, 50});
  ASSERT_TRUE(first);
  const auto second = cropImage(*first, {40, 40, 100, 100});
  ASSERT_TRUE(second);
  EXPECT_EQ(second->width, 10u);
  EXPECT_EQ(second->height, 10u);
  EXPECT_EQ(second->row(0)[0], 50);
  EXPECT_EQ(second->row(9)[1], 59);
}

}  // namespace
}  // namespace mirlet::testing
