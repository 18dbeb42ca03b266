// The entry of mirlet-x11-pictures.so: pictures of windows and displays from the X server named
// by DISPLAY, through Composite, Damage and shared memory.

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/x11/pictures.hpp"

namespace {

using mirlet::module::guard;

// Hands the picture over as it is: its pixels and their owner, which the caller gives back
// through `release`.
mirlet::Result<void> handOver(mirlet::Result<mirlet::x11::Picture> made,
                              mirlet_picture* picture) {
  if (!made) return mirlet::failure(made.error());
  picture->image = made->image;
  picture->release = made->owner.get_deleter();
  picture->owner = made->owner.release();
  return {};
}

int captureWindow(uint32_t id, int64_t width, int64_t height, mirlet_picture* picture,
                  mirlet_reason* why) noexcept {
  return guard(why, [&] {
    return handOver(mirlet::x11::captureWindow(id, width, height), picture);
  });
}

int captureDisplay(mirlet_rect frame, int64_t width, int64_t height, mirlet_picture* picture,
                   mirlet_reason* why) noexcept {
  return guard(why, [&] {
    return handOver(mirlet::x11::captureDisplay(frame, width, height), picture);
  });
}

int notHere(mirlet_reason* why) {
  mirlet::module::writeReason(why, "this module answers only for pictures");
  return -1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module*
mirlet_x11_pictures_entry() {
  static constexpr mirlet_screen_module module{
      [](int, int*, mirlet_reason* why) noexcept { return notHere(why); },
      [](const mirlet_content_sink*, mirlet_reason* why) noexcept { return notHere(why); },
      &captureWindow, &captureDisplay};
  return &module;
}
