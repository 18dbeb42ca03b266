#include "mirlet/platform/image.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace mirlet {

Image makeImage(std::uint32_t width, std::uint32_t height,
                const std::function<void(std::uint8_t*, std::size_t)>& fill) {
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(std::size_t{width} * height * 4);
  if (fill) fill(pixels->data(), std::size_t{width} * 4);
  Image image;
  image.width = width;
  image.height = height;
  image.bytesPerRow = std::size_t{width} * 4;
  image.pixels = pixels->data();
  image.storage = pixels;
  return image;
}

std::optional<Image> cropImage(const Image& image, const Rect& rect) {
  const double left = std::floor(minX(rect));
  const double top = std::floor(minY(rect));
  const double right = std::ceil(maxX(rect));
  const double bottom = std::ceil(maxY(rect));
  // NaN fails every comparison below, so a rectangle that is not a rectangle meets nothing.
  const double clippedLeft = std::max(left, 0.0);
  const double clippedTop = std::max(top, 0.0);
  const double clippedRight = std::min(right, static_cast<double>(image.width));
  const double clippedBottom = std::min(bottom, static_cast<double>(image.height));
  if (!(clippedLeft < clippedRight && clippedTop < clippedBottom)) return std::nullopt;

  const auto x = static_cast<std::uint32_t>(clippedLeft);
  const auto y = static_cast<std::uint32_t>(clippedTop);
  Image part = image;
  part.width = static_cast<std::uint32_t>(clippedRight) - x;
  part.height = static_cast<std::uint32_t>(clippedBottom) - y;
  part.pixels = image.row(y) + std::size_t{x} * 4;
  return part;
}

}  // namespace mirlet
