// The entry of the loadable module that lists windows and displays over XCB.

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "mirlet/platform/linux/loadable/screen_modules.hpp"
#include "mirlet/platform/linux/xcb/list_content.hpp"

namespace {

MirletRect rect(const mirlet::Rect& r) { return {r.x, r.y, r.width, r.height}; }

// The C view and the C++ values it points into, freed together.
struct OwnedContent {
  MirletContent view{};
  std::string error;
  mirlet::Content content;
  std::vector<MirletWindow> windows;
  std::vector<MirletDisplay> displays;
};

// Hands the view to the caller; the module's free function deletes the owner it points to.
MirletContent* release(std::unique_ptr<OwnedContent> owned) {
  owned->view.owner = owned.get();
  return &owned.release()->view;
}

MirletContent* listContent() noexcept try {
  auto owned = std::make_unique<OwnedContent>();
  auto content = mirlet::xcb::listContent();
  if (!content) {
    owned->error = content.error().description;
    owned->view.error = owned->error.c_str();
    return release(std::move(owned));
  }
  owned->content = std::move(*content);
  for (const mirlet::Window& w : owned->content.windows)
    owned->windows.push_back({w.windowID, rect(w.frame), w.title.data(), w.title.size(),
                              w.app.data(), w.app.size()});
  for (const mirlet::Display& d : owned->content.displays)
    owned->displays.push_back({d.displayID, rect(d.frame), d.width, d.height});
  owned->view = {nullptr, owned->windows.data(), owned->windows.size(), owned->displays.data(),
                 owned->displays.size(), nullptr};
  return release(std::move(owned));
} catch (...) {
  return nullptr;  // out of memory
}

void freeContent(MirletContent* content) noexcept {
  if (content != nullptr) delete static_cast<OwnedContent*>(content->owner);
}

int displayIsReachable() noexcept { return mirlet::xcb::displayIsReachable() ? 1 : 0; }

}  // namespace

extern "C" __attribute__((visibility("default"))) const MirletXcbModule* mirlet_xcb_module() {
  static constexpr MirletXcbModule module{&displayIsReachable, &listContent, &freeContent};
  return &module;
}
