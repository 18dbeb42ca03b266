#include "mirlet/platform/linux/x11/pictures.hpp"

#include <string>

#include "mirlet/platform/linux/x11/connection.hpp"
#include "mirlet/platform/linux/x11/scale.hpp"
#include "mirlet/platform/linux/x11/window_capture.hpp"

namespace mirlet::x11 {
namespace {

// Beyond this a picture would not fit in memory anyway; asking for one is an error, not a crash.
constexpr std::int64_t kLargestSide = 1 << 15;

template <class Read>
Result<Image> capture(PixelSize size, Read&& read) {
  if (size.width < 1 || size.height < 1 || size.width > kLargestSide ||
      size.height > kLargestSide)
    return failure("unsupported picture size " + std::to_string(size.width) + " x " +
                   std::to_string(size.height));
  auto connection = Connection::open();
  if (!connection) return std::unexpected(connection.error());
  const Result<Image> pixels = read(*connection);
  if (!pixels) return std::unexpected(pixels.error());
  return scaleImage(*pixels, static_cast<std::uint32_t>(size.width),
                    static_cast<std::uint32_t>(size.height));
}

}  // namespace

Result<Image> captureWindow(std::uint32_t windowID, PixelSize size) {
  return capture(size, [&](const Connection& c) { return captureWindowPixels(c, windowID); });
}

Result<Image> captureDisplay(const Rect& frame, PixelSize size) {
  return capture(size, [&](const Connection& c) { return captureScreenPixels(c, frame); });
}

}  // namespace mirlet::x11
