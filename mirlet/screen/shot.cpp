#include "mirlet/screen/shot.hpp"

#include <algorithm>
#include <string_view>

#include "mirlet/cli/json.hpp"
#include "mirlet/screen/geometry.hpp"

namespace mirlet {
namespace {

constexpr std::string_view kFallbackNote = "window capture failed, trying display-crop\n";

std::string writtenLine(std::string_view mode, const std::string& path) {
  std::string line = "{\"ok\":true,\"mode\":\"";
  line += mode;
  line += "\",\"path\":\"";
  line += jsonStringBody(path);
  line += "\"}";
  return line;
}

}  // namespace

CommandResult shot(ScreenCapture& screen, const NoteSink& note, std::uint32_t windowID,
                   const std::string& path) {
  const auto content = screen.listContent();
  if (!content) return refuse("no_shareable_content");
  const auto window = std::ranges::find(content->windows, windowID, &Window::windowID);
  if (window == content->windows.end()) return refuse("window_not_found");

  {
    // The window's picture is dropped before the display's is taken, so at most one is held.
    const auto picture = screen.captureWindow(windowID, windowCaptureSize(window->frame));
    if (picture && screen.writePNG(*picture, path)) return writtenLine("window", path);
  }
  note(kFallbackNote);

  const auto display = displayForWindow(content->displays, window->frame);
  if (!display) return refuse("no_display_for_window");
  const auto picture = screen.captureDisplay(display->frame, displayCaptureSize(*display));
  if (!picture) return refuse("display_capture_failed");

  // A window wholly off its display's picture is written as the whole display.
  const auto cropped = cropImage(*picture, cropRectangle(window->frame, display->frame));
  if (!screen.writePNG(cropped.value_or(*picture), path)) return refuse("png_encode_failed");
  return writtenLine("display-crop", path);
}

}  // namespace mirlet
