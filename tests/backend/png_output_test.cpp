// PNG files decoded again by libspng (which checks every CRC and the Adler-32) pixel by pixel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "e2e/screen_support.hpp"
#include "mirlet/platform/image.hpp"
#include "mirlet/platform/linux/png/png_output.hpp"

namespace mirlet::testing {
namespace {

// Pixels that no filter predicts well; every third row dark, so rows start both ways.
Image noisy(std::uint32_t width, std::uint32_t height) {
  std::uint32_t state = 12345;
  return makeImage(width, height, [&](std::uint8_t* pixels, std::size_t stride) {
    for (std::uint32_t y = 0; y < height; ++y)
      for (std::uint32_t x = 0; x < width * 4; ++x) {
        state = state * 1664525 + 1013904223;
        pixels[y * stride + x] = static_cast<std::uint8_t>((state >> 24) & (y % 3 ? 0xFF : 0x0F));
      }
  });
}

// `source` twice as wide and high, every pixel repeated, rows paired from row 1 on: a slice
// starting on an even row repeats the last row of the slice before.
Image doubled(const Image& source) {
  return makeImage(source.width * 2, source.height * 2, [&](std::uint8_t* pixels, std::size_t stride) {
    for (std::uint32_t y = 0; y < source.height * 2; ++y)
      for (std::uint32_t x = 0; x < source.width * 2; ++x)
        std::memcpy(pixels + y * stride + x * 4,
                    source.row(std::min((y + 1) / 2, source.height - 1)) + (x / 2) * 4, 4);
  });
}

// 1000 x 1200 grey rows but black ones at every row where 2, 3 or 4 slices begin, each after a
// grey row: a slice whose first row is compared with nothing would take it for a repeat.
Image blackAtSliceStarts() {
  return makeImage(1000, 1200, [](std::uint8_t* pixels, std::size_t stride) {
    constexpr std::uint32_t kBlack[] = {300, 400, 600, 800, 900};
    for (std::uint32_t y = 0; y < 1200; ++y)
      if (std::ranges::find(kBlack, y) == std::end(kBlack))
        std::memset(pixels + y * stride, 0x80, stride);
  });
}

Result<void> write(const Image& image, const std::string& path) {
  return png::writePNG({image.width, image.height, image.bytesPerRow, image.pixels}, path);
}

// The file decodes to the picture's pixels, every one.
std::size_t wrongPixels(const Image& image, const std::string& path) {
  const auto decoded = decodePng(path);
  if (!decoded || decoded->width != image.width || decoded->height != image.height) return ~0uz;
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint8_t* in = image.row(y) + std::size_t{x} * 4;
      wrong += decoded->at(x, y) != ((std::uint32_t{in[2]} << 16) | (in[1] << 8) | in[0]);
    }
  return wrong;
}

TEST(BackendPngOutput, WritesEveryPixelOfFullCroppedAndSlicedPictures) {
  TempDir dir;
  const Image whole = noisy(301, 97);
  // Over a megapixel, deflated in slices on more than one thread.
  const Image large = doubled(noisy(1000, 600));
  const auto cut = cropImage(whole, {13.5, 7, 100, 50});
  const auto largeCut = cropImage(large, {3, 1, 1501, 999});
  ASSERT_TRUE(cut && largeCut);
  for (const Image& image : {whole, *cut, noisy(1, 1), noisy(37, 1), noisy(2000, 3), large,
                             *largeCut, noisy(1003, 1001), blackAtSliceStarts()}) {
    SCOPED_TRACE(::testing::Message() << image.width << " x " << image.height);
    ASSERT_TRUE(write(image, dir / "p.png"));
    EXPECT_EQ(wrongPixels(image, dir / "p.png"), 0u);
  }
}

TEST(BackendPngOutput, FailsWhenTheFileCannotBeWrittenWhole) {
  TempDir dir;
  // The smallest file fails only when closed, the others while written; the last is sliced.
  for (const Image& image : {noisy(10, 10), noisy(200, 200), doubled(noisy(600, 500))}) {
    SCOPED_TRACE(::testing::Message() << image.width << " x " << image.height);
    EXPECT_FALSE(write(image, dir / "missing/p.png"));
    EXPECT_FALSE(write(image, dir.path()));  // a folder
    EXPECT_FALSE(write(image, "/dev/full"));
  }
  EXPECT_FALSE(write(Image{}, dir / "empty.png"));
}

}  // namespace
}  // namespace mirlet::testing
