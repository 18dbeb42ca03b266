#pragma once
// The screen through the screen modules' entry points. When a module cannot be loaded, each
// question answers the way a missing screen would: no access, no listing, no picture.

#include <memory>

#include "mirlet/platform/screen_access.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet::loadable {

std::unique_ptr<ScreenAccess> makeScreenAccess();
std::unique_ptr<ScreenCapture> makeScreenCapture();

}  // namespace mirlet::loadable
