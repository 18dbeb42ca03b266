#include "mirlet/platform/linux/xcb/shareable_content.hpp"

#include "mirlet/platform/linux/xcb/connection.hpp"
#include "mirlet/platform/linux/xcb/window_list.hpp"

namespace mirlet::xcb {

bool displayIsReachable() { return Connection::open().has_value(); }

void getShareableContent(bool, bool onScreenWindowsOnly, Completion<ShareableContent> completion) {
  auto connection = Connection::open();
  if (!connection) return completion(std::unexpected(connection.error()));
  const WindowListRequest windowList = requestWindowList(*connection);
  const MonitorRequest monitorList = requestMonitors(*connection);
  ShareableContent content;
  // The desktop window, where there is one, is a top-level like any other and is listed with
  // them either way.
  content.windows = topLevelWindows(*connection, windowList, onScreenWindowsOnly);
  content.displays = monitors(*connection, monitorList);
  if (!connection->alive()) return completion(failure("the connection to the X server broke"));
  completion(std::move(content));
}

}  // namespace mirlet::xcb
