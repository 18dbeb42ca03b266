// The entry of mirlet-xcb.so: screen access and the listings, over a plain XCB connection.

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/xcb/list_content.hpp"

namespace {

using mirlet::module::guard;

mirlet_rect rect(const mirlet::Rect& r) { return {r.x, r.y, r.width, r.height}; }

// X11 has no prompt: capture is allowed whenever the display can be opened, and asking changes
// nothing.
int access(int, int* allowed, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    *allowed = mirlet::xcb::displayIsReachable() ? 1 : 0;
    return {};
  });
}

int listContent(const mirlet_content_sink* sink, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    const auto content = mirlet::xcb::listContent();
    if (!content) return mirlet::failure(content.error());
    if (sink->window != nullptr) {
      for (const mirlet::Window& w : content->windows) {
        const mirlet_window window{w.windowID,     rect(w.frame), w.title.data(),
                                   w.title.size(), w.app.data(),  w.app.size()};
        sink->window(sink->context, &window);
      }
    }
    for (const mirlet::Display& d : content->displays) {
      const mirlet_display display{d.displayID, rect(d.frame), d.width, d.height};
      sink->display(sink->context, &display);
    }
    return {};
  });
}

int noPictures(mirlet_reason* why) {
  mirlet::module::writeReason(why, "this module takes no pictures");
  return -1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module* mirlet_xcb_entry() {
  static constexpr mirlet_screen_module module{
      &access, &listContent,
      [](uint32_t, int64_t, int64_t, mirlet_picture*, mirlet_reason* why) noexcept {
        return noPictures(why);
      },
      [](mirlet_rect, int64_t, int64_t, mirlet_picture*, mirlet_reason* why) noexcept {
        return noPictures(why);
      }};
  return &module;
}
