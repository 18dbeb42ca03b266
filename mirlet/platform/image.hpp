#pragma once
// A captured picture and the crop that cuts a rectangle out of one.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "mirlet/platform/rect.hpp"

namespace mirlet {

// Immutable pixels, 4 bytes each in memory order blue, green, red, unused (what X11 hands out on
// little-endian machines), rows top down. A crop shares the pixels of the picture it was cut from,
// so `storage` keeps them alive and `pixels` may point into the middle of them.
struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t bytesPerRow = 0;
  const std::uint8_t* pixels = nullptr;
  std::shared_ptr<const void> storage;

  const std::uint8_t* row(std::uint32_t y) const { return pixels + y * bytesPerRow; }
};

// A picture with its own packed rows, zeroed, then handed to `fill` (when given) to draw into.
Image makeImage(std::uint32_t width, std::uint32_t height,
                const std::function<void(std::uint8_t* pixels, std::size_t bytesPerRow)>& fill = {});

// The part of `image` inside `rect` (pixels, origin top left): edges moved outward to whole pixels,
// clipped to the picture; nothing when the two do not meet.
std::optional<Image> cropImage(const Image& image, const Rect& rect);

}  // namespace mirlet
