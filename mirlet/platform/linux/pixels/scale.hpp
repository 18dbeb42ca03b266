#pragma once
// Bringing a picture to the pixel size that was asked for.

#include <cstdint>

#include "mirlet/platform/linux/pixels/picture.hpp"

namespace mirlet::pixels {

// `picture` at `width` x `height`: itself when the size is already right, every pixel repeated
// when it is exactly twice, and otherwise sampled bilinearly (averaged first when shrinking by
// more than half), so any other size comes out smooth.
Picture scalePicture(Picture picture, std::uint32_t width, std::uint32_t height);

}  // namespace mirlet::pixels
