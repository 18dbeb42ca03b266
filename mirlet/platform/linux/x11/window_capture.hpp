#pragma once
// Pictures straight from the X server, at the size the server has them.

#include <xcb/xcb.h>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/x11/connection.hpp"
#include "mirlet/platform/linux/x11/pixels.hpp"

namespace mirlet::x11 {

// The top-level holding `client` (its frame, border included) by itself, even where other
// windows cover it: the window is redirected off screen and given a moment to repaint first.
Result<Picture> captureWindowPixels(const Connection& connection, xcb_window_t client);

// The part of the screen inside `frame` as the screen shows it; outside the screen is black.
Result<Picture> captureScreenPixels(const Connection& connection, const mirlet_rect& frame);

}  // namespace mirlet::x11
