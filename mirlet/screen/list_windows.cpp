#include "mirlet/screen/list_windows.hpp"

#include <string>

#include "mirlet/cli/json.hpp"

namespace mirlet {
namespace {

constexpr double kMinimumSide = 80;

// One listed window, as the caller reads it.
struct W {
  std::uint32_t id = 0;
  std::string app;
  std::string title;
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
};

void encode(JsonWriter& json, const W& window) {
  json.beginObject()
      .key("id").value(window.id)
      .key("app").value(window.app)
      .key("title").value(window.title)
      .key("x").value(window.x)
      .key("y").value(window.y)
      .key("w").value(window.w)
      .key("h").value(window.h)
      .endObject();
}

}  // namespace

CommandResult listWindows(ScreenCapture& screen) {
  const auto windows = screen.listWindows();
  if (!windows) return failure("no_shareable_content");

  JsonWriter json(Solidus::escaped);
  json.beginArray();
  for (const Window& window : *windows) {
    const Rect& frame = window.frame;
    if (width(frame) < kMinimumSide || height(frame) < kMinimumSide) continue;
    encode(json, W{window.windowID, window.app, window.title, minX(frame), minY(frame),
                   width(frame), height(frame)});
  }
  json.endArray();
  return json.text();
}

}  // namespace mirlet
