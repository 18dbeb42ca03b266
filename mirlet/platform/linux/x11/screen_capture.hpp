#pragma once
// Windows, displays and pictures from the X server named by DISPLAY.

#include "mirlet/platform/capture_service.hpp"

namespace mirlet::x11 {

// True when the X display named by the environment can be opened.
bool displayIsReachable();

void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         Completion<ShareableContent> completion);

void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                  Completion<Image> completion);

}  // namespace mirlet::x11
