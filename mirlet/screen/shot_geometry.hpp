#pragma once
// The pixel arithmetic of a screenshot: every capture and crop is made at twice the size in points,
// whatever the display's own scale.

#include <cstdint>
#include <optional>
#include <span>

#include "mirlet/platform/rect.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet {

inline constexpr std::int64_t kCaptureScale = 2;

// 2 x the frame's size truncated toward zero, but at least 2 in each direction.
PixelSize windowCaptureSize(const Rect& frame);

// 2 x the display's size in whole points, but at least 2 in each direction.
PixelSize displayCaptureSize(const Display& display);

// The window's rectangle in pixels of the display's picture, origin at its top left; not rounded.
Rect cropRectangle(const Rect& windowFrame, const Rect& displayFrame);

// The first display whose frame holds the window's midpoint (left and top edges inside, right and
// bottom edges outside), else the first display; nothing when there are none.
std::optional<Display> displayForWindow(std::span<const Display> displays, const Rect& windowFrame);

}  // namespace mirlet
