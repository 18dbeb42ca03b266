#pragma once

#include <cstdint>
#include <string>

#include "mirlet/cli/command_result.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet {

// `shot`: a PNG of the window at twice its size in points, falling back (with a note) to a crop
// of the display that holds it.
CommandResult shot(ScreenCapture& screen, const NoteSink& note, std::uint32_t windowID,
                   const std::string& path);

}  // namespace mirlet
