#pragma once
// The top-level windows and the monitors of an X screen.

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <array>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/x11/connection.hpp"

namespace mirlet::x11 {

// Every question is sent before its answer is needed, so the window list and the monitors share
// their round trips: request first, collect after.

struct WindowListRequest {
  xcb_query_tree_cookie_t tree;
  std::array<xcb_intern_atom_cookie_t, 7> atoms;
};
WindowListRequest requestWindowList(const Connection& connection);

// Gives `sink` the top-level windows front to back: viewable, InputOutput and not
// override-redirect. A window that goes away meanwhile is left out.
void listWindows(const Connection& connection, const WindowListRequest& request,
                 const mirlet_content_sink& sink);

struct MonitorRequest {
  bool sent = false;
  xcb_randr_query_version_cookie_t version{};
  xcb_randr_get_monitors_cookie_t monitors{};
};
// Waits for the server to say whether it has RandR: one round trip, which the requests already
// sent (a `requestWindowList`) share.
MonitorRequest requestMonitors(const Connection& connection);

// Gives `sink` the active RandR monitors in RandR's order; the whole screen when RandR has none
// to give.
void listMonitors(const Connection& connection, const MonitorRequest& request,
                  const mirlet_content_sink& sink);

}  // namespace mirlet::x11
