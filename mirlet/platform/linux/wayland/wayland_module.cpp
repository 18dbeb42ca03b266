// The entry of mirlet-wayland.so: screen access, the listings and the pictures of a Wayland
// session.

#include <memory>

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/wayland/desktop.hpp"
#include "mirlet/platform/linux/wayland/screencopy.hpp"

namespace {

using mirlet::module::guard;
using mirlet::wayland::screen;

mirlet_rect rect(const mirlet::Rect& r) {
  return {r.x, r.y, r.width, r.height};
}

// Hands the picture's pixels to the caller, who gives them back through `release`.
mirlet::Result<void> handOver(mirlet::Result<mirlet::pixels::Picture> made,
                              mirlet_picture* picture) {
  if (!made) return mirlet::failure(made.error());
  picture->image = made->image;
  picture->release = made->owner.get_deleter();
  picture->owner = made->owner.release();
  return {};
}

// Where mirlet can list the windows and copy the screen, any client may: there is nothing to ask.
// Elsewhere the answer is no, so that a caller does not go on to an empty window list.
int access(int, int* allowed, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    const auto found = screen();
    *allowed = found && (*found)->desktop != nullptr ? 1 : 0;
    return {};
  });
}

int listContent(const mirlet_content_sink* sink, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    const auto found = screen();
    if (!found) return mirlet::failure(found.error());
    if (sink->window != nullptr) {
      if ((*found)->desktop == nullptr) return mirlet::failure(mirlet::wayland::kNoWindows);
      const auto windows = (*found)->desktop->windows();
      if (!windows) return mirlet::failure(windows.error());
      for (const mirlet::Window& w : *windows) {
        const mirlet_window window{w.windowID,     rect(w.frame), w.title.data(),
                                   w.title.size(), w.app.data(),  w.app.size()};
        sink->window(sink->context, &window);
      }
    }
    for (const auto& output : (*found)->session->outputs()) {
      const mirlet::Rect& frame = output->logical;
      const mirlet_display display{output->name, rect(frame), static_cast<int64_t>(frame.width),
                                   static_cast<int64_t>(frame.height)};
      sink->display(sink->context, &display);
    }
    return {};
  });
}

int captureWindow(uint32_t id, int64_t width, int64_t height, mirlet_picture* picture,
                  mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    const auto found = screen();
    if (!found) return mirlet::failure(found.error());
    if ((*found)->desktop == nullptr) return mirlet::failure(mirlet::wayland::kNoWindows);
    return handOver((*found)->desktop->captureWindow(id, {width, height}), picture);
  });
}

int captureDisplay(mirlet_rect frame, int64_t width, int64_t height, mirlet_picture* picture,
                   mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    const auto found = screen();
    if (!found) return mirlet::failure(found.error());
    return handOver(
        mirlet::wayland::captureArea(
            *(*found)->session, {frame.x, frame.y, frame.width, frame.height}, {width, height}),
        picture);
  });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module*
mirlet_wayland_entry() {
  static constexpr mirlet_screen_module module{&access, &listContent, &captureWindow,
                                               &captureDisplay};
  return &module;
}
