#include "mirlet/screen/list_windows.hpp"

#include <string>
#include <vector>

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

void listWindows(Platform& platform, Output& out) {
  auto content = await<ShareableContent>([&](Completion<ShareableContent> done) {
    platform.captureService.getShareableContent(false, true, std::move(done));
  });
  if (!content) out.fail("no_shareable_content");

  std::vector<W> listed;
  for (const Window& window : content->windows) {
    std::string title = window.title.value_or("");
    std::string app = window.owningApplication ? window.owningApplication->applicationName : "";
    const Rect& frame = window.frame;
    if (width(frame) < kMinimumSide || height(frame) < kMinimumSide) continue;
    listed.push_back(W{window.windowID, std::move(app), std::move(title), minX(frame), minY(frame),
                       width(frame), height(frame)});
  }

  JsonWriter json;
  json.beginArray();
  for (const W& window : listed) encode(json, window);
  json.endArray();
  out.emit(json.text());
}

}  // namespace mirlet
