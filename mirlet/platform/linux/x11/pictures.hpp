#pragma once
// Pictures of windows and displays from the X server named by DISPLAY.

#include <cstdint>

#include "mirlet/platform/result.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet::x11 {

// The top-level holding `windowID` (its frame, border included) alone, scaled to `size`.
Result<Image> captureWindow(std::uint32_t windowID, PixelSize size);

// The screen inside `frame` as it shows (black beyond the screen), scaled to `size`.
Result<Image> captureDisplay(const Rect& frame, PixelSize size);

}  // namespace mirlet::x11
