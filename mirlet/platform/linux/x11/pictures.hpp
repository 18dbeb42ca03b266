#pragma once
// Pictures of windows and displays from the X server named by DISPLAY.

#include <cstdint>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/x11/pixels.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet::x11 {

// The top-level holding `windowID` (its frame, border included) alone, scaled to `width` x
// `height`.
Result<Picture> captureWindow(std::uint32_t windowID, std::int64_t width, std::int64_t height);

// The screen inside `frame` as it shows (black beyond the screen), scaled to `width` x `height`.
Result<Picture> captureDisplay(const mirlet_rect& frame, std::int64_t width, std::int64_t height);

}  // namespace mirlet::x11
