// The entry of mirlet-x11.so: screen access and the listings, from the X server named by DISPLAY.
// It needs libxcb and RandR alone; the pictures are mirlet-x11-pictures.so's.

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/x11/list_content.hpp"

namespace {

using mirlet::module::guard;

// X11 has no prompt: capture is allowed whenever the display can be opened, and asking changes
// nothing.
int access(int, int* allowed, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    *allowed = mirlet::x11::displayIsReachable() ? 1 : 0;
    return {};
  });
}

int listContent(const mirlet_content_sink* sink, mirlet_reason* why) noexcept {
  return guard(why, [&] { return mirlet::x11::listContent(*sink); });
}

int noPictures(mirlet_reason* why) {
  mirlet::module::writeReason(why, "this module takes no pictures");
  return -1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module* mirlet_x11_entry() {
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
