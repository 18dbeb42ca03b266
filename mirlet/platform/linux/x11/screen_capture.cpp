#include "mirlet/platform/linux/x11/screen_capture.hpp"

#include <X11/Xlib.h>

namespace mirlet::x11 {

bool displayIsReachable() {
  ::Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

void getShareableContent(bool, bool, Completion<ShareableContent> completion) {
  completion(failure("not built yet"));
}

void captureImage(const ContentFilter&, const StreamConfiguration&, Completion<Image> completion) {
  completion(failure("not built yet"));
}

}  // namespace mirlet::x11
