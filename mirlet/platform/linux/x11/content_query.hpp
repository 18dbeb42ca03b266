#pragma once
// The top-level windows and the monitors of an X screen.

#include <X11/Xlib.h>

#include <optional>
#include <vector>

#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/linux/x11/connection.hpp"

namespace mirlet::x11 {

// The top-level windows front to back: viewable ones (or, with `onScreenOnly` false, mapped or
// not), InputOutput and not override-redirect. A window that goes away meanwhile is left out.
std::vector<mirlet::Window> topLevelWindows(const Connection& connection, bool onScreenOnly);

// The active RandR monitors in RandR's order; the whole screen when RandR has none to give.
std::vector<mirlet::Display> monitors(const Connection& connection);

// The child of the root that holds `window` (the window manager's frame around a client), or
// nothing when `window` is not on this screen or no longer exists.
std::optional<::Window> topLevelOf(const Connection& connection, ::Window window);

}  // namespace mirlet::x11
