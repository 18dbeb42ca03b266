// The entry of mirlet-png.so: PNG files of pictures.

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/png/png_output.hpp"

extern "C" __attribute__((visibility("default"))) const mirlet_png_module* mirlet_png_entry() {
  static constexpr mirlet_png_module module{
      [](const mirlet_image* image, const char* path, mirlet_reason* why) noexcept {
        return mirlet::module::guard(why, [&] { return mirlet::png::writePNG(*image, path); });
      }};
  return &module;
}
