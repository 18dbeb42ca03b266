#include "mirlet/screen/shot_geometry.hpp"

#include <algorithm>
#include <cmath>

namespace mirlet {
namespace {

// Points to pixels. Frames far beyond any real screen (or not finite) are held to a size that
// still fits the pixel type instead of overflowing it; the capture then fails on its own.
std::int64_t pixelsFor(double points) {
  constexpr double kLargest = 4503599627370496.0;  // 2^52: whole numbers are still exact here
  const double whole = std::trunc(points);
  const std::int64_t clamped =
      std::isnan(whole) ? 0 : static_cast<std::int64_t>(std::clamp(whole, -kLargest, kLargest));
  return std::max<std::int64_t>(kCaptureScale * clamped, kCaptureScale);
}

}  // namespace

PixelSize windowCaptureSize(const Rect& frame) {
  return {pixelsFor(width(frame)), pixelsFor(height(frame))};
}

PixelSize displayCaptureSize(const Display& display) {
  return {pixelsFor(static_cast<double>(display.width)),
          pixelsFor(static_cast<double>(display.height))};
}

Rect cropRectangle(const Rect& windowFrame, const Rect& displayFrame) {
  constexpr double scale = kCaptureScale;
  return Rect{scale * (minX(windowFrame) - minX(displayFrame)),
              scale * (minY(windowFrame) - minY(displayFrame)), scale * width(windowFrame),
              scale * height(windowFrame)};
}

std::optional<Display> displayForWindow(std::span<const Display> displays,
                                        const Rect& windowFrame) {
  if (displays.empty()) return std::nullopt;
  const double x = midX(windowFrame);
  const double y = midY(windowFrame);
  for (const Display& display : displays) {
    const Rect& f = display.frame;
    if (minX(f) <= x && x < maxX(f) && minY(f) <= y && y < maxY(f)) return display;
  }
  return displays.front();
}

}  // namespace mirlet
