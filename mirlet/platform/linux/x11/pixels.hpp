#pragma once
// Pictures in the layout module.h hands over, and reading one from a window or pixmap.

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/pixels/picture.hpp"
#include "mirlet/platform/linux/x11/connection.hpp"

namespace mirlet::x11 {

using pixels::Picture;
using pixels::makePicture;

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
