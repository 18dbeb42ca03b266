#include "mirlet/platform/image.hpp"

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

std::optional<Image> cropImage(const Image&, const Rect&) { return std::nullopt; }

}  // namespace mirlet
