// PNG files from libspng, decoded again to check every pixel.

#include <gtest/gtest.h>

#include <cstring>

#include "e2e/screen_support.hpp"
#include "fakes/fake_capture.hpp"
#include "mirlet/platform/linux/png/png_output.hpp"

namespace mirlet::testing {
namespace {

// Pixels that no filter predicts well, so the test sees every filter and match path.
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

// Decodes `path` and compares it with `image` pixel by pixel.
void expectSamePixels(const Image& image, const std::string& path) {
  const auto decoded = decodePng(path);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->width, image.width);
  ASSERT_EQ(decoded->height, image.height);
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint8_t* in = image.row(y) + std::size_t{x} * 4;
      wrong += decoded->at(x, y) != ((std::uint32_t{in[2]} << 16) | (in[1] << 8) | in[0]);
    }
  EXPECT_EQ(wrong, 0u);
}

TEST(BackendPngOutput, WritesEveryPixelOfFullAndCroppedPictures) {
  TempDir dir;
  auto output = png::makeImageOutput();
  const Image whole = noisy(301, 97);
  const auto part = cropImage(whole, {13.5, 7, 100, 50});
  ASSERT_TRUE(part);
  for (const Image& image : {whole, *part, coordinateImage(1, 1), coordinateImage(2000, 3)}) {
    SCOPED_TRACE(::testing::Message() << image.width << " x " << image.height);
    ASSERT_TRUE(output->writePNG(image, dir / "p.png"));
    expectSamePixels(image, dir / "p.png");
  }
}

TEST(BackendPngOutput, RepeatedRowsAndPixelsCostAlmostNothing) {
  TempDir dir;
  auto output = png::makeImageOutput();
  const Image original = noisy(400, 300);
  const Image doubled = makeImage(800, 600, [&](std::uint8_t* pixels, std::size_t stride) {
    for (std::uint32_t y = 0; y < 600; ++y)
      for (std::uint32_t x = 0; x < 800; ++x)
        std::memcpy(pixels + y * stride + x * 4, original.row(y / 2) + (x / 2) * 4, 4);
  });
  ASSERT_TRUE(output->writePNG(original, dir / "1x.png"));
  ASSERT_TRUE(output->writePNG(doubled, dir / "2x.png"));
  expectSamePixels(doubled, dir / "2x.png");
  // Four times the pixels, but every repeated row and pixel filters to zeros.
  const double ratio = static_cast<double>(readFile(dir / "2x.png").size()) /
                       static_cast<double>(readFile(dir / "1x.png").size());
  EXPECT_LT(ratio, 1.6);
}

TEST(BackendPngOutput, FailsWhenTheFileCannotBeWrittenWhole) {
  TempDir dir;
  auto output = png::makeImageOutput();
  EXPECT_FALSE(output->writePNG(noisy(10, 10), dir / "missing/p.png"));
  EXPECT_FALSE(output->writePNG(noisy(10, 10), dir.path()));  // a folder
  EXPECT_FALSE(output->writePNG(noisy(200, 200), "/dev/full"));
  EXPECT_FALSE(output->writePNG(Image{}, dir / "empty.png"));
}

}  // namespace
}  // namespace mirlet::testing
