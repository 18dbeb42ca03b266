// The entry of the loadable module that lists windows and displays over XCB.

#include "mirlet/platform/linux/loadable/modules.hpp"
#include "mirlet/platform/linux/xcb/shareable_content.hpp"

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::XcbModule*
mirlet_xcb_module() {
  static constexpr mirlet::loadable::XcbModule module{&mirlet::xcb::displayIsReachable,
                                                      &mirlet::xcb::getShareableContent};
  return &module;
}
