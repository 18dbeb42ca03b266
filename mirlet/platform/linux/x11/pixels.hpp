#pragma once
// Reading a rectangle of pixels from a window or pixmap.

#include <X11/Xlib.h>

#include "mirlet/platform/image.hpp"
#include "mirlet/platform/linux/x11/connection.hpp"

namespace mirlet::x11 {

struct Source {
  Drawable drawable = None;
  Visual* visual = nullptr;  // gives the pixel layout; pixmaps do not carry one themselves
  int depth = 0;
  int x = 0;
  int y = 0;
  unsigned width = 0;
  unsigned height = 0;
};

// The pixels of `source` as blue, green, red, unused. Through shared memory when the server
// offers it (the picture then lives in the segment, no copy), else over the socket.
Result<Image> readPixels(const Connection& connection, const Source& source);

}  // namespace mirlet::x11
