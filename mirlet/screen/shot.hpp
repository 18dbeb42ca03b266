#pragma once

#include <cstdint>
#include <string>

#include "mirlet/cli/output.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// `shot`: a PNG of the window at twice its size in points, falling back to a crop of the display
// that holds it. Returns only after its line is written; every failure ends the process.
void shot(Platform& platform, Output& out, std::uint32_t windowID, const std::string& path);

}  // namespace mirlet
