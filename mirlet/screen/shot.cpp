#include "mirlet/screen/shot.hpp"

#include <algorithm>
#include <string_view>

#include "mirlet/cli/json.hpp"
#include "mirlet/screen/shot_geometry.hpp"

namespace mirlet {
namespace {

constexpr std::string_view kFallbackNote = "window capture failed, trying display-crop\n";

std::string writtenLine(std::string_view mode, const std::string& path) {
  return JsonWriter(Solidus::asIs)
      .beginObject()
      .key("ok").value(true)
      .key("mode").value(mode)
      .key("path").value(path)
      .endObject()
      .text();
}

}  // namespace

CommandResult shot(ScreenCapture& screen, const NoteSink& note, std::uint32_t windowID,
                   const std::string& path) {
  const auto content = screen.listContent();
  if (!content) return failure("no_shareable_content");
  const auto window = std::ranges::find(content->windows, windowID, &Window::windowID);
  if (window == content->windows.end()) return failure("window_not_found");

  {
    // The window's picture is dropped before the display's is taken, so at most one is held.
    const auto picture = screen.captureWindow(windowID, windowCaptureSize(window->frame));
    if (picture && screen.writePNG(*picture, path)) return writtenLine("window", path);
  }
  note(kFallbackNote);

  const auto display = displayForWindow(content->displays, window->frame);
  if (!display) return failure("no_display_for_window");
  const auto picture = screen.captureDisplay(display->frame, displayCaptureSize(*display));
  if (!picture) return failure("display_capture_failed");

  // A window wholly off its display's picture is written as the whole display.
  const auto cropped = cropImage(*picture, cropRectangle(window->frame, display->frame));
  if (!screen.writePNG(cropped.value_or(*picture), path)) return failure("png_encode_failed");
  return writtenLine("display-crop", path);
}

}  // namespace mirlet
