#pragma once
// Windows and displays of the X server named by DISPLAY, over a plain XCB connection: listing
// needs neither Xlib nor the picture extensions, and loading those would cost a listing more
// than the listing itself.

#include "mirlet/platform/result.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet::xcb {

// True when the X display named by the environment can be opened.
bool displayIsReachable();

// The viewable top-levels front to back and the monitors.
Result<Content> listContent();

}  // namespace mirlet::xcb
