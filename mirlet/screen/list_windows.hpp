#pragma once

#include "mirlet/cli/output.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// `windows`: writes the JSON array of capturable windows of at least 80 x 80 points, or fails
// with "no_shareable_content". Returns only after its line is written.
void listWindows(Platform& platform, Output& out);

}  // namespace mirlet
