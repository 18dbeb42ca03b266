#include "mirlet/platform/linux/x11/pictures.hpp"

#include <string>

#include "mirlet/platform/linux/x11/connection.hpp"
#include "mirlet/platform/linux/pixels/scale.hpp"
#include "mirlet/platform/linux/x11/window_capture.hpp"

namespace mirlet::x11 {
namespace {

// Beyond this a picture would not fit in memory anyway; asking for one is an error, not a crash.
constexpr std::int64_t kLargestSide = 1 << 15;

template <class Read>
Result<Picture> capture(std::int64_t width, std::int64_t height, Read&& read) {
  if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide)
    return failure("unsupported picture size " + std::to_string(width) + " x " +
                   std::to_string(height));
  auto connection = Connection::open();
  if (!connection) return failure(connection.error());
  auto pixels = read(*connection);
  if (!pixels) return pixels;
  return pixels::scalePicture(std::move(*pixels), static_cast<std::uint32_t>(width),
                      static_cast<std::uint32_t>(height));
}

}  // namespace

Result<Picture> captureWindow(std::uint32_t windowID, std::int64_t width, std::int64_t height) {
  return capture(width, height,
                 [&](const Connection& c) { return captureWindowPixels(c, windowID); });
}

Result<Picture> captureDisplay(const mirlet_rect& frame, std::int64_t width, std::int64_t height) {
  return capture(width, height, [&](const Connection& c) { return captureScreenPixels(c, frame); });
}

}  // namespace mirlet::x11
