#pragma once

#include "mirlet/cli/command_result.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet {

// `windows`: the JSON array of capturable windows of at least 80 x 80 points, or
// "no_shareable_content".
CommandResult listWindows(ScreenCapture& screen);

}  // namespace mirlet
