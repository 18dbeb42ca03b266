#pragma once
// Windows and displays of the X server named by DISPLAY, over a plain XCB connection: listing
// needs neither Xlib nor the picture extensions, and loading those would cost a listing more
// than the listing itself.

#include "mirlet/platform/capture_service.hpp"

namespace mirlet::xcb {

// True when the X display named by the environment can be opened.
bool displayIsReachable();

void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         Completion<ShareableContent> completion);

}  // namespace mirlet::xcb
