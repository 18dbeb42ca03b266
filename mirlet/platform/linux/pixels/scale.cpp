#include "mirlet/platform/linux/pixels/scale.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace mirlet::pixels {
namespace {

Picture doubled(const Picture& picture) {
  const mirlet_image& image = picture.image;
  return makePicture(image.width * 2, image.height * 2, [&](std::uint8_t* out, std::size_t stride) {
    for (std::uint32_t y = 0; y < image.height; ++y) {
      const auto* in = reinterpret_cast<const std::uint32_t*>(picture.row(y));
      auto* row = reinterpret_cast<std::uint32_t*>(out + 2 * y * stride);
      for (std::uint32_t x = 0; x < image.width; ++x) row[2 * x] = row[2 * x + 1] = in[x];
      std::memcpy(out + (2 * y + 1) * stride, row, stride);
    }
  });
}

// Halves by averaging 2 x 2 blocks (the last row or column repeated when the size is odd).
Picture halved(const Picture& picture) {
  const mirlet_image& image = picture.image;
  const std::uint32_t width = std::max(1u, image.width / 2);
  const std::uint32_t height = std::max(1u, image.height / 2);
  return makePicture(width, height, [&](std::uint8_t* out, std::size_t stride) {
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::uint8_t* top = picture.row(std::min(2 * y, image.height - 1));
      const std::uint8_t* bottom = picture.row(std::min(2 * y + 1, image.height - 1));
      std::uint8_t* row = out + y * stride;
      for (std::uint32_t x = 0; x < width; ++x) {
        const std::size_t left = std::size_t{std::min(2 * x, image.width - 1)} * 4;
        const std::size_t right = std::size_t{std::min(2 * x + 1, image.width - 1)} * 4;
        for (int c = 0; c < 3; ++c)
          row[4 * x + c] = static_cast<std::uint8_t>(
              (top[left + c] + top[right + c] + bottom[left + c] + bottom[right + c] + 2) / 4);
        row[4 * x + 3] = 0;
      }
    }
  });
}

Picture bilinear(const Picture& picture, std::uint32_t width, std::uint32_t height) {
  const mirlet_image& image = picture.image;
  // Sample positions at pixel centres, so edges map onto edges.
  const double sx = static_cast<double>(image.width) / width;
  const double sy = static_cast<double>(image.height) / height;
  struct Tap {
    std::size_t a, b;  // byte offsets of the two neighbours
    std::uint32_t weight;  // of b, in 1/256
  };
  auto taps = [](std::uint32_t count, double scale, std::uint32_t limit, std::size_t unit) {
    std::vector<Tap> result(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, limit - 1.0);
      const auto a = static_cast<std::uint32_t>(position);
      const std::uint32_t b = std::min(a + 1, limit - 1);
      result[i] = {a * unit, b * unit, static_cast<std::uint32_t>((position - a) * 256 + 0.5)};
    }
    return result;
  };
  const auto columns = taps(width, sx, image.width, 4);
  const auto rows = taps(height, sy, image.height, 1);
  return makePicture(width, height, [&](std::uint8_t* out, std::size_t stride) {
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::uint8_t* top = picture.row(static_cast<std::uint32_t>(rows[y].a));
      const std::uint8_t* bottom = picture.row(static_cast<std::uint32_t>(rows[y].b));
      const std::uint32_t wy = rows[y].weight;
      std::uint8_t* row = out + y * stride;
      for (std::uint32_t x = 0; x < width; ++x) {
        const Tap& t = columns[x];
        for (int c = 0; c < 3; ++c) {
          const std::uint32_t upper = top[t.a + c] * (256 - t.weight) + top[t.b + c] * t.weight;
          const std::uint32_t lower =
              bottom[t.a + c] * (256 - t.weight) + bottom[t.b + c] * t.weight;
          row[4 * x + c] =
              static_cast<std::uint8_t>((upper * (256 - wy) + lower * wy + 32768) >> 16);
        }
        row[4 * x + 3] = 0;
      }
    }
  });
}

}  // namespace

Picture scalePicture(Picture picture, std::uint32_t width, std::uint32_t height) {
  const mirlet_image& image = picture.image;
  if (image.width == width && image.height == height) return picture;
  if (width == 2 * image.width && height == 2 * image.height) return doubled(picture);
  if (image.width == 0 || image.height == 0)
    return makePicture(width, height, [&](std::uint8_t* out, std::size_t stride) {
      std::memset(out, 0, stride * height);
    });
  // Bilinear sampling skips pixels when shrinking by more than half; averaging first keeps
  // every source pixel in the result.
  if (width * 2 <= image.width && height * 2 <= image.height && image.width > 1 &&
      image.height > 1)
    return scalePicture(halved(picture), width, height);
  return bilinear(picture, width, height);
}

}  // namespace mirlet::pixels
