#pragma once
// The windows on screen in sway's layout tree (its IPC's GET_TREE answer), and its outputs
// (GET_OUTPUTS).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mirlet/platform/rect.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet::sway {

struct TreeWindow {
  std::uint32_t id = 0;  // the container's id, which commands and criteria ([con_id=…]) use
  Rect frame;            // points, global space, the title bar included
  std::string title;
  std::string appId;   // a native window's app_id
  std::string xClass;  // an XWayland window's X class
  bool xwayland = false;
};

// The windows that show, front to back: floating ones above tiled ones, the topmost first; then
// the tiled ones, which never overlap, the most recently focused first. Windows on workspaces
// that no output shows, in the scratchpad, on tabs behind others or behind a fullscreen window
// are left out.
Result<std::vector<TreeWindow>> visibleWindows(std::string_view tree);

struct TreeOutput {
  std::uint32_t id = 0;  // from the output's name ("HEADLESS-1"), so it stays while the output does
  Rect frame;            // points, global space: the place xdg-output gives too
};

// The outputs that show something (active), in sway's order, which is the order in which they
// were enabled, as their Wayland globals were announced.
Result<std::vector<TreeOutput>> activeOutputs(std::string_view outputs);

}  // namespace mirlet::sway
