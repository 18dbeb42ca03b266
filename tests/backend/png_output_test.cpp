// PNG files from libspng, decoded again to check every pixel.

#include <gtest/gtest.h>
#include <spng.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "fakes/fake_capture.hpp"
#include "mirlet/platform/linux/png/png_output.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

struct Decoded {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

std::optional<Decoded> decode(const std::string& path) {
  const std::string bytes = readFile(path);
  std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> context(spng_ctx_new(0), spng_ctx_free);
  if (spng_set_png_buffer(context.get(), bytes.data(), bytes.size()) != 0) return std::nullopt;
  spng_ihdr header{};
  if (spng_get_ihdr(context.get(), &header) != 0) return std::nullopt;
  std::size_t size = 0;
  if (spng_decoded_image_size(context.get(), SPNG_FMT_RGB8, &size) != 0) return std::nullopt;
  Decoded decoded{header.width, header.height, std::vector<std::uint8_t>(size)};
  if (spng_decode_image(context.get(), decoded.rgb.data(), size, SPNG_FMT_RGB8, 0) != 0)
    return std::nullopt;
  return decoded;
}

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

void expectSamePixels(const Image& image, const Decoded& decoded) {
  ASSERT_EQ(decoded.width, image.width);
  ASSERT_EQ(decoded.height, image.height);
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint8_t* in = image.row(y) + std::size_t{x} * 4;
      const std::uint8_t* out = &decoded.rgb[(std::size_t{y} * image.width + x) * 3];
      wrong += in[2] != out[0] || in[1] != out[1] || in[0] != out[2];
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
    const auto decoded = decode(dir / "p.png");
    ASSERT_TRUE(decoded);
    expectSamePixels(image, *decoded);
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
  const auto decoded = decode(dir / "2x.png");
  ASSERT_TRUE(decoded);
  expectSamePixels(doubled, *decoded);
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
