#include "mirlet/platform/linux/x11/screen_capture.hpp"

#include "mirlet/platform/linux/x11/connection.hpp"
#include "mirlet/platform/linux/x11/scale.hpp"
#include "mirlet/platform/linux/x11/window_capture.hpp"

namespace mirlet::x11 {
namespace {

// Beyond this a picture would not fit in memory anyway; asking for one is an error, not a crash.
constexpr std::int64_t kLargestSide = 1 << 15;

}  // namespace

void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                  Completion<Image> completion) {
  if (configuration.width < 1 || configuration.height < 1 ||
      configuration.width > kLargestSide || configuration.height > kLargestSide)
    return completion(failure("unsupported picture size " + std::to_string(configuration.width) +
                              " x " + std::to_string(configuration.height)));
  auto connection = Connection::open();
  if (!connection) return completion(std::unexpected(connection.error()));

  Result<Image> pixels = failure("unsupported content filter");
  switch (filter.kind) {
    case ContentFilter::Kind::desktopIndependentWindow:
      pixels = captureWindowPixels(*connection, filter.window.windowID);
      break;
    case ContentFilter::Kind::displayExcludingWindows:
      if (filter.windows.empty()) pixels = captureScreenPixels(*connection, filter.display.frame);
      break;
    case ContentFilter::Kind::displayExcludingApplications:
      break;
  }
  if (!pixels) return completion(std::unexpected(pixels.error()));
  completion(scaleImage(*pixels, static_cast<std::uint32_t>(configuration.width),
                        static_cast<std::uint32_t>(configuration.height)));
}

}  // namespace mirlet::x11
