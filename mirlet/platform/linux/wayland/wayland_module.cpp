// The entry of mirlet-wayland.so: screen access, the listings and the pictures of a Wayland
// session whose compositor is sway (or speaks sway's IPC).

#include "mirlet/platform/linux/wayland/screen_module.hpp"

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module*
mirlet_wayland_entry() {
  return &mirlet::wayland::ScreenModule<&mirlet::wayland::connectSway>::kTable;
}
