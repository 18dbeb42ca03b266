#pragma once

#include <memory>

#include "mirlet/platform/image_output.hpp"

namespace mirlet::png {

// PNG files through libspng: 8-bit RGB, fastest deflate with run-length matching, and per row
// the better of the Sub and Up filters. A row repeating the one above filters to zeros under Up
// and a pixel repeating its left neighbour to zeros under Sub, so doubled pictures cost little
// more than their originals.
std::unique_ptr<ImageOutput> makeImageOutput();

}  // namespace mirlet::png
