#pragma once
// Pictures of windows and displays from the X server named by DISPLAY.

#include "mirlet/platform/capture_service.hpp"

namespace mirlet::x11 {

void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                  Completion<Image> completion);

}  // namespace mirlet::x11
