#pragma once
// Pictures straight from the X server, at the size the server has them.

#include <X11/Xlib.h>

#include "mirlet/platform/result.hpp"
#include "mirlet/platform/screen_capture.hpp"
#include "mirlet/platform/linux/x11/connection.hpp"

namespace mirlet::x11 {

// The top-level holding `client` (its frame, border included) by itself, even where other
// windows cover it: the window is redirected off screen and given a moment to repaint first.
Result<Image> captureWindowPixels(const Connection& connection, ::Window client);

// The part of the screen inside `frame` as the screen shows it; outside the screen is black.
Result<Image> captureScreenPixels(const Connection& connection, const Rect& frame);

}  // namespace mirlet::x11
