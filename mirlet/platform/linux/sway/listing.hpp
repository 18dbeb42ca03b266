#pragma once
// sway's windows and outputs as mirlet lists them, from its IPC alone: what `windows` needs,
// without libwayland (mirlet-sway.so). The pictures are mirlet-wayland.so's.

#include <string>
#include <string_view>
#include <vector>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/sway/sway_tree.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet::sway {

struct NamedWindow {
  TreeWindow tree;
  std::string app;  // the desktop entry's name of a native window, an X window's class
};

// The windows that show in `tree` (GET_TREE's answer), front to back, their applications named.
Result<std::vector<NamedWindow>> namedWindows(std::string_view tree);

// The windows (when `sink.window` is set) and the displays, each lent to the sink, from one
// connection to SWAYSOCK: both questions in one write, so one wait for both answers.
Result<void> listContent(const mirlet_content_sink& sink);

}  // namespace mirlet::sway
