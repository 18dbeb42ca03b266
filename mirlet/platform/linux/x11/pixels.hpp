#pragma once
// Pictures in the layout module.h hands over, and reading one from a window or pixmap.

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/x11/connection.hpp"

namespace mirlet::x11 {

// Pixels of 4 bytes, blue, green, red, unused, rows top down, with whatever holds them: a buffer
// of the picture's own, the shared memory segment the server wrote into, or the reply they came
// in. The owner goes over to the caller as it is, with the function that frees it.
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

struct Source {
  xcb_drawable_t drawable = XCB_NONE;
  const xcb_visualtype_t* visual = nullptr;  // the pixel layout; pixmaps do not carry one
  std::uint8_t depth = 0;
  std::int16_t x = 0;
  std::int16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
};

// The pixels of `source`. Through shared memory when the server can attach a segment of this
// process (the picture then stays in the segment: no copy), else over the socket (a server on
// another machine, say).
Result<Picture> readPixels(const Connection& connection, const Source& source);

}  // namespace mirlet::x11
