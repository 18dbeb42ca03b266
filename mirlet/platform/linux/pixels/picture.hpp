#pragma once
// Pictures in the layout module.h hands over, for the screen backends.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mirlet/platform/linux/module.h"

namespace mirlet::pixels {

// Pixels of 4 bytes, blue, green, red, unused, rows top down, with whatever holds them: a buffer
// of the picture's own, or the shared memory or the reply that the display server wrote them
// into. The owner goes over to the caller as it is, with the function that frees it.
struct Picture {
  mirlet_image image{};
  std::unique_ptr<void, void (*)(void*)> owner{nullptr, nullptr};

  const std::uint8_t* row(std::uint32_t y) const {
    return image.pixels + std::size_t{y} * image.bytes_per_row;
  }
};

// A picture with packed rows of its own, handed to `fill` to write every byte of.
template <class Fill>
Picture makePicture(std::uint32_t width, std::uint32_t height, Fill&& fill) {
  const std::size_t bytesPerRow = std::size_t{width} * 4;
  auto* pixels = new std::uint8_t[bytesPerRow * height];
  Picture picture{{width, height, bytesPerRow, pixels},
                  {pixels, [](void* p) { delete[] static_cast<std::uint8_t*>(p); }}};
  fill(pixels, bytesPerRow);
  return picture;
}

}  // namespace mirlet::pixels
