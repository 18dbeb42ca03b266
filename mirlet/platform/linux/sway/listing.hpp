#pragma once
// sway's windows and outputs as mirlet lists them, from its IPC alone: what `windows` needs, with
// no library at all, so the executable lists sway's screen itself. The pictures are
// mirlet-wayland.so's.

#include <string>
#include <string_view>
#include <vector>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/sway/sway_ipc.hpp"
#include "mirlet/platform/linux/sway/sway_tree.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet::sway {

struct NamedWindow {
  TreeWindow tree;
  std::string app;  // the desktop entry's name of a native window, an X window's class
};

// The windows that show in `tree` (GET_TREE's answer), front to back, their applications named.
Result<std::vector<NamedWindow>> namedWindows(std::string_view tree);

// Lends each window to `sink.window`.
void lendWindows(const std::vector<NamedWindow>& windows, const mirlet_content_sink& sink);

// The windows (when `sink.window` is set) and the displays (when `sink.display` is), each lent to
// the sink, from `ipc`: both questions in one write, so one wait for both answers.
Result<void> listContent(SwayIpc ipc, const mirlet_content_sink& sink);

}  // namespace mirlet::sway
