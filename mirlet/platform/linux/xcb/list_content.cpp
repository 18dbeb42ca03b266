#include "mirlet/platform/linux/xcb/list_content.hpp"

#include "mirlet/platform/linux/xcb/connection.hpp"
#include "mirlet/platform/linux/xcb/window_list.hpp"

namespace mirlet::xcb {

bool displayIsReachable() { return Connection::open().has_value(); }

Result<Content> listContent() {
  auto connection = Connection::open();
  if (!connection) return std::unexpected(connection.error());
  const WindowListRequest windowList = requestWindowList(*connection);
  const MonitorRequest monitorList = requestMonitors(*connection);
  Content content;
  // The desktop window, where there is one, is a top-level like any other and is listed with
  // them.
  content.windows = topLevelWindows(*connection, windowList);
  content.displays = monitors(*connection, monitorList);
  if (!connection->alive()) return failure("the connection to the X server broke");
  return content;
}

}  // namespace mirlet::xcb
