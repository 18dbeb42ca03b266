#pragma once

#include <string>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/result.hpp"

namespace mirlet::png {

// Writes `image` at its own size as a PNG file at `to`; succeeds only when the file is complete.
// 8-bit RGB, fastest deflate with run-length matching, the Up filter for a row that repeats the one
// above (all zeros) and Sub for the others (zeros wherever a pixel repeats its left neighbour), so
// pictures doubled in size cost little more than their originals. Pictures of a megapixel and
// more are deflated in slices of rows on up to one thread a core.
Result<void> writePNG(const mirlet_image& image, const std::string& to);

}  // namespace mirlet::png
