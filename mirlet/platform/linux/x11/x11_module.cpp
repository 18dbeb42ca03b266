// The entry of mirlet-x11.so: pictures of windows and displays from the X server.

#include <memory>

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/x11/pictures.hpp"

namespace {

using mirlet::module::guard;

// Hands the picture's pixels to the caller, who gives them back through `release`.
mirlet::Result<void> handOver(mirlet::Result<mirlet::Image> made, mirlet_picture* picture) {
  if (!made) return mirlet::failure(made.error());
  auto owner = std::make_unique<mirlet::Image>(std::move(*made));
  picture->image = {owner->width, owner->height, owner->bytesPerRow, owner->pixels};
  picture->owner = owner.release();
  picture->release = [](void* image) { delete static_cast<mirlet::Image*>(image); };
  return {};
}

int captureWindow(uint32_t id, int64_t width, int64_t height, mirlet_picture* picture,
                  mirlet_reason* why) noexcept {
  return guard(why, [&] { return handOver(mirlet::x11::captureWindow(id, {width, height}), picture); });
}

int captureDisplay(mirlet_rect frame, int64_t width, int64_t height, mirlet_picture* picture,
                   mirlet_reason* why) noexcept {
  return guard(why, [&] {
    return handOver(mirlet::x11::captureDisplay({frame.x, frame.y, frame.width, frame.height},
                                                {width, height}),
                    picture);
  });
}

int notHere(mirlet_reason* why) {
  mirlet::module::writeReason(why, "this module answers only for pictures");
  return -1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module* mirlet_x11_entry() {
  static constexpr mirlet_screen_module module{
      [](int, int*, mirlet_reason* why) noexcept { return notHere(why); },
      [](const mirlet_content_sink*, mirlet_reason* why) noexcept { return notHere(why); },
      &captureWindow, &captureDisplay};
  return &module;
}
