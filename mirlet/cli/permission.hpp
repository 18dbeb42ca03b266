#pragma once

#include "mirlet/platform/screen_access.hpp"

namespace mirlet {

// True when screen capture is allowed, after asking for it when it was not.
bool ensureScreenAccess(ScreenAccess& access);

}  // namespace mirlet
