// The entry of the loadable module that carries the X11 pictures and the PNG output.

#include "mirlet/platform/linux/loadable/modules.hpp"
#include "mirlet/platform/linux/png/png_output.hpp"
#include "mirlet/platform/linux/x11/screen_capture.hpp"

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::X11Module*
mirlet_x11_module() {
  static constexpr mirlet::loadable::X11Module module{
      &mirlet::x11::captureImage, &mirlet::png::makeImageOutput};
  return &module;
}
