// The entry of mirlet-sway.so: the listings of a sway session, from sway's IPC alone. It links no
// Wayland library: loading libwayland-client and libffi is about a millisecond of every run, and
// `windows` needs neither. Access and pictures are mirlet-wayland.so's (screencopy).

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/sway/listing.hpp"

namespace {

using mirlet::module::guard;

int notHere(mirlet_reason* why) {
  mirlet::module::writeReason(
      why, "this module only lists: access and pictures are mirlet-wayland.so's");
  return -1;
}

int listContent(const mirlet_content_sink* sink, mirlet_reason* why) noexcept {
  return guard(why, [&] { return mirlet::sway::listContent(*sink); });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module* mirlet_sway_entry() {
  static constexpr mirlet_screen_module module{
      [](int, int*, mirlet_reason* why) noexcept { return notHere(why); }, &listContent,
      [](uint32_t, int64_t, int64_t, mirlet_picture*, mirlet_reason* why) noexcept {
        return notHere(why);
      },
      [](mirlet_rect, int64_t, int64_t, mirlet_picture*, mirlet_reason* why) noexcept {
        return notHere(why);
      }};
  return &module;
}
