#pragma once
// The top-level windows and the monitors of an X screen.

#include <vector>

#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/linux/xcb/connection.hpp"

namespace mirlet::xcb {

// The top-level windows front to back: viewable ones (or, with `onScreenOnly` false, mapped or
// not), InputOutput and not override-redirect. A window that goes away meanwhile is left out.
std::vector<mirlet::Window> topLevelWindows(const Connection& connection, bool onScreenOnly);

// Asks early whether the server has RandR, so that `monitors` need not wait for it.
void prefetchMonitors(const Connection& connection);

// The active RandR monitors in RandR's order; the whole screen when RandR has none to give.
std::vector<mirlet::Display> monitors(const Connection& connection);

}  // namespace mirlet::xcb
