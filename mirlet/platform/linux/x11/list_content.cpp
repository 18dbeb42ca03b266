#include "mirlet/platform/linux/x11/list_content.hpp"

#include "mirlet/platform/linux/x11/connection.hpp"
#include "mirlet/platform/linux/x11/window_list.hpp"

namespace mirlet::x11 {

bool displayIsReachable() { return Connection::open().has_value(); }

Result<void> listContent(const mirlet_content_sink& sink) {
  auto connection = Connection::open();
  if (!connection) return failure(connection.error());
  const bool windows = sink.window != nullptr, displays = sink.display != nullptr;
  const WindowListRequest windowList = windows ? requestWindowList(*connection) : WindowListRequest{};
  const MonitorRequest monitorList = displays ? requestMonitors(*connection) : MonitorRequest{};
  // The desktop window, where there is one, is a top-level like any other and is listed with
  // them.
  if (windows) listWindows(*connection, windowList, sink);
  if (displays) listMonitors(*connection, monitorList, sink);
  if (!connection->alive()) return failure("the connection to the X server broke");
  return {};
}

}  // namespace mirlet::x11
