#pragma once
// Windows and displays of the X server named by DISPLAY.

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/result.hpp"

namespace mirlet::x11 {

// True when the X display named by the environment can be opened.
bool displayIsReachable();

// Gives `sink` the viewable top-levels front to back (unless it takes displays alone), then the
// monitors.
Result<void> listContent(const mirlet_content_sink& sink);

}  // namespace mirlet::x11
