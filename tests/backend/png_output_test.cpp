// PNG files decoded again by libspng to check every pixel, and their framing checked with zlib.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

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

// `source` twice as wide and high, every pixel repeated. Rows go in pairs from row 1 on, so any
// even row where the writer starts a slice repeats the row above it, the last of the slice before.
Image doubled(const Image& source) {
  return makeImage(source.width * 2, source.height * 2, [&](std::uint8_t* pixels, std::size_t stride) {
    for (std::uint32_t y = 0; y < source.height * 2; ++y)
      for (std::uint32_t x = 0; x < source.width * 2; ++x)
        std::memcpy(pixels + y * stride + x * 4,
                    source.row(std::min((y + 1) / 2, source.height - 1)) + (x / 2) * 4, 4);
  });
}

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// Walks the chunks: every CRC right, IHDR first, IEND last, and the IDAT data together one zlib
// stream (inflate checks its Adler-32) of a filter byte and three bytes a pixel for every row.
void expectSoundFraming(const Image& image, const std::string& path) {
  const std::string file = readFile(path);
  ASSERT_GE(file.size(), 8u);
  EXPECT_EQ(file.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
  std::vector<std::string> types;
  std::string header, stream;
  for (std::size_t at = 8; at < file.size();) {
    ASSERT_LE(at + 12, file.size());
    const std::uint32_t length = bigEndian(file, at);
    ASSERT_LE(at + 12 + length, file.size());
    const auto* typeAndData = reinterpret_cast<const Bytef*>(file.data() + at + 4);
    EXPECT_EQ(bigEndian(file, at + 8 + length), crc32(0, typeAndData, length + 4));
    types.push_back(file.substr(at + 4, 4));
    if (types.back() == "IHDR") header = file.substr(at + 8, length);
    if (types.back() == "IDAT") stream += file.substr(at + 8, length);
    at += 12 + length;
  }
  ASSERT_GE(types.size(), 3u);
  EXPECT_EQ(types.front(), "IHDR");
  EXPECT_EQ(types.back(), "IEND");
  EXPECT_EQ(std::count(types.begin(), types.end(), "IDAT"), std::ssize(types) - 2);
  ASSERT_EQ(header.size(), 13u);
  EXPECT_EQ(bigEndian(header, 0), image.width);
  EXPECT_EQ(bigEndian(header, 4), image.height);
  EXPECT_EQ(header.substr(8), std::string("\x08\x02\0\0\0", 5));  // 8-bit RGB, no interlacing

  const std::size_t rawSize = image.height * (std::size_t{image.width} * 3 + 1);
  std::vector<std::uint8_t> raw(rawSize + 1);  // room for one byte too many
  z_stream inflater{};
  ASSERT_EQ(inflateInit(&inflater), Z_OK);
  const std::unique_ptr<z_stream, int (*)(z_streamp)> end(&inflater, inflateEnd);
  inflater.next_in = reinterpret_cast<Bytef*>(stream.data());
  inflater.avail_in = static_cast<uInt>(stream.size());
  inflater.next_out = raw.data();
  inflater.avail_out = static_cast<uInt>(raw.size());
  EXPECT_EQ(inflate(&inflater, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(inflater.total_out, rawSize);
  EXPECT_EQ(inflater.avail_in, 0u);  // nothing after the stream's end
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
  const auto cut = cropImage(whole, {13.5, 7, 100, 50});
  // Over a megapixel, so deflated in slices on more than one thread: slices that start on a
  // repeated row and on a new one, rows longer than the picture is wide, rows of two pixels.
  const Image large = doubled(noisy(1000, 600));
  const auto largeCut = cropImage(large, {3, 1, 1501, 999});
  ASSERT_TRUE(cut && largeCut);
  for (const Image& image : {whole, *cut, coordinateImage(1, 1), coordinateImage(1, 37),
                             coordinateImage(37, 1), coordinateImage(2000, 3), large, *largeCut,
                             noisy(1003, 1001), doubled(noisy(1, 300000))}) {
    SCOPED_TRACE(::testing::Message() << image.width << " x " << image.height);
    ASSERT_TRUE(output->writePNG(image, dir / "p.png"));
    expectSamePixels(image, dir / "p.png");
    expectSoundFraming(image, dir / "p.png");
  }
}

TEST(BackendPngOutput, RepeatedRowsAndPixelsCostAlmostNothing) {
  TempDir dir;
  auto output = png::makeImageOutput();
  // The larger doubles into slices deflated apart, each starting from an empty window.
  for (const Image& original : {noisy(400, 300), noisy(1000, 600)}) {
    SCOPED_TRACE(::testing::Message() << original.width << " x " << original.height);
    const Image twice = doubled(original);
    ASSERT_TRUE(output->writePNG(original, dir / "1x.png"));
    ASSERT_TRUE(output->writePNG(twice, dir / "2x.png"));
    expectSamePixels(twice, dir / "2x.png");
    // Four times the pixels, but every repeated row and pixel filters to zeros.
    const double ratio = static_cast<double>(readFile(dir / "2x.png").size()) /
                         static_cast<double>(readFile(dir / "1x.png").size());
    EXPECT_LT(ratio, 1.6);
  }
}

TEST(BackendPngOutput, FailsWhenTheFileCannotBeWrittenWhole) {
  TempDir dir;
  auto output = png::makeImageOutput();
  // The smallest file fails only when closed, the others while written; the last is threaded.
  for (const Image& image : {noisy(10, 10), noisy(200, 200), doubled(noisy(600, 500))}) {
    SCOPED_TRACE(::testing::Message() << image.width << " x " << image.height);
    EXPECT_FALSE(output->writePNG(image, dir / "missing/p.png"));
    EXPECT_FALSE(output->writePNG(image, dir.path()));  // a folder
    EXPECT_FALSE(output->writePNG(image, "/dev/full"));
  }
  EXPECT_FALSE(output->writePNG(Image{}, dir / "empty.png"));
}

}  // namespace
}  // namespace mirlet::testing
