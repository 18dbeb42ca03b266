#pragma once

#include <memory>

#include "mirlet/platform/image_output.hpp"

namespace mirlet::png {

// PNG files written with zlib: 8-bit RGB, fastest deflate with run-length matching, the Up filter
// for a row that repeats the one above (all zeros) and Sub for the others (zeros wherever a pixel
// repeats its left neighbour), so pictures doubled in size cost little more than their originals.
// Pictures of a megapixel and more are deflated in slices of rows on up to one thread a core.
std::unique_ptr<ImageOutput> makeImageOutput();

}  // namespace mirlet::png
