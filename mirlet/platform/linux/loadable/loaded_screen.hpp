#pragma once
// The screen through the screen modules' entry points. When a module cannot be loaded, each
// question answers the way a missing screen would: no access, no listing, no picture.

#include <memory>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/screen_access.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet::loadable {

std::unique_ptr<ScreenAccess> makeScreenAccess();
std::unique_ptr<ScreenCapture> makeScreenCapture();

// The same over entry points at hand (the backend tests link the modules' code): `listing`'s
// table for the listings, `pictures`'s for the pictures.
using Entry = const mirlet_screen_module* (*)();
std::unique_ptr<ScreenCapture> makeScreenCapture(Entry listing, Entry pictures);

}  // namespace mirlet::loadable
