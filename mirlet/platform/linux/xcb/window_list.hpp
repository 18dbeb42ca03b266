#pragma once
// The top-level windows and the monitors of an X screen.

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <array>
#include <vector>

#include "mirlet/platform/screen_capture.hpp"
#include "mirlet/platform/linux/xcb/connection.hpp"

namespace mirlet::xcb {

// Every question is sent before its answer is needed, so the window list and the monitors share
// their round trips: request first, collect after.

struct WindowListRequest {
  xcb_query_tree_cookie_t tree;
  std::array<xcb_intern_atom_cookie_t, 7> atoms;
};
WindowListRequest requestWindowList(const Connection& connection);

// The top-level windows front to back: viewable, InputOutput and not override-redirect. A window that goes away meanwhile is left out.
std::vector<mirlet::Window> topLevelWindows(const Connection& connection,
                                            const WindowListRequest& request);

struct MonitorRequest {
  bool sent = false;
  xcb_randr_query_version_cookie_t version{};
  xcb_randr_get_monitors_cookie_t monitors{};
};
// Waits for the server to say whether it has RandR: one round trip, which the requests already
// sent (a `requestWindowList`) share.
MonitorRequest requestMonitors(const Connection& connection);

// The active RandR monitors in RandR's order; the whole screen when RandR has none to give.
std::vector<mirlet::Display> monitors(const Connection& connection, const MonitorRequest& request);

}  // namespace mirlet::xcb
