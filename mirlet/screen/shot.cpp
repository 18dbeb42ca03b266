#include "mirlet/screen/shot.hpp"

#include <string_view>

#include "mirlet/cli/json.hpp"
#include "mirlet/screen/geometry.hpp"

namespace mirlet {
namespace {

constexpr std::string_view kFallbackNote = "window capture failed, trying display-crop\n";

Result<Image> capture(Platform& platform, const ContentFilter& filter, PixelSize size) {
  StreamConfiguration configuration;
  configuration.width = size.width;
  configuration.height = size.height;
  return await<Image>([&](Completion<Image> done) {
    platform.captureService.captureImage(filter, configuration, std::move(done));
  });
}

void emitWritten(Output& out, std::string_view mode, const std::string& path) {
  std::string line = "{\"ok\":true,\"mode\":\"";
  line += mode;
  line += "\",\"path\":\"";
  line += jsonStringBody(path);
  line += "\"}";
  out.emit(line);
}

}  // namespace

void shot(Platform& platform, Output& out, std::uint32_t windowID, const std::string& path) {
  auto content = await<ShareableContent>([&](Completion<ShareableContent> done) {
    platform.captureService.getShareableContent(false, true, std::move(done));
  });
  if (!content) out.fail("no_shareable_content");

  const Window* window = nullptr;
  for (const Window& candidate : content->windows) {
    if (candidate.windowID == windowID) {
      window = &candidate;
      break;
    }
  }
  if (window == nullptr) out.fail("window_not_found");

  {
    // The window's picture is dropped before the display's is taken, so at most one is held.
    const auto picture = capture(platform, ContentFilter::desktopIndependentWindow(*window),
                                 windowCaptureSize(window->frame));
    if (picture && platform.imageOutput.writePNG(*picture, path)) {
      emitWritten(out, "window", path);
      return;
    }
  }
  out.note(kFallbackNote);

  const auto display = displayForWindow(content->displays, window->frame);
  if (!display) out.fail("no_display_for_window");
  const auto picture = capture(platform, ContentFilter::displayExcludingWindows(*display, {}),
                               displayCaptureSize(*display));
  if (!picture) out.fail("display_capture_failed");

  const auto cropped = cropImage(*picture, cropRectangle(window->frame, display->frame));
  if (!platform.imageOutput.writePNG(cropped.value_or(*picture), path))
    out.fail("png_encode_failed");
  emitWritten(out, "display-crop", path);
}

}  // namespace mirlet
