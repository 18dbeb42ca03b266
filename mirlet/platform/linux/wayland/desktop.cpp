#include "mirlet/platform/linux/wayland/desktop.hpp"

#include <algorithm>
#include <optional>

#include "mirlet/platform/linux/wayland/desktop_entry.hpp"
#include "mirlet/platform/linux/wayland/screencopy.hpp"
#include "mirlet/platform/linux/wayland/sway_ipc.hpp"
#include "mirlet/platform/linux/wayland/sway_tree.hpp"

namespace mirlet::wayland {
namespace {

bool overlaps(const Rect& a, const Rect& b) {
  return std::max(minX(a), minX(b)) < std::min(maxX(a), maxX(b)) &&
         std::max(minY(a), minY(b)) < std::min(maxY(a), maxY(b));
}

// sway, and compositors that speak its IPC: the windows from its layout tree, a window alone
// through screencopy of its place on screen. Nothing here can read a window's own pixels, so a
// window that another covers, even in part, cannot be had alone.
class SwayDesktop final : public Desktop {
 public:
  SwayDesktop(Session& session, SwayIpc ipc) : session_(session), ipc_(std::move(ipc)) {}

  Result<std::vector<Window>> windows() override {
    if (!listed_) {
      auto tree = ipc_.receive(SwayIpc::kGetTree);
      if (!tree) return failure(tree.error());
      auto found = visibleWindows(*tree);
      if (!found) return failure(found.error());
      std::vector<Window> windows;
      for (TreeWindow& w : *found) {
        // X clients are named by their class, as on X11.
        std::string app = w.xwayland ? w.xClass : applicationName(w.appId);
        windows.push_back({w.id, std::move(w.title), std::move(app), w.frame});
      }
      listed_ = std::move(windows);
    }
    return *listed_;
  }

  Result<pixels::Picture> captureWindow(std::uint32_t id, PixelSize size) override {
    const auto listed = windows();
    if (!listed) return failure(listed.error());
    const auto window = std::ranges::find(*listed, id, &Window::windowID);
    if (window == listed->end()) return failure("no window on screen has that id");
    for (auto above = listed->begin(); above != window; ++above)
      if (overlaps(above->frame, window->frame))
        return failure("another window covers it, and only what shows can be copied here");
    return captureArea(session_, window->frame, size);
  }

 private:
  Session& session_;
  SwayIpc ipc_;
  std::optional<std::vector<Window>> listed_;  // one snapshot per run, as the commands expect
};

// The desktop of this session. Compositors that list their windows with ext-foreign-toplevel-list
// and capture one with ext-image-copy-capture (newer wlroots) would get a desktop of their own
// here, chosen by `session.offers(…)`; GNOME and KDE Plasma theirs.
Result<Screen> connectScreen() {
  // sway's tree is asked for first, so that sway builds it while the Wayland globals come.
  std::optional<SwayIpc> ipc;
  if (auto connected = SwayIpc::connect(); connected && connected->send(SwayIpc::kGetTree))
    ipc.emplace(std::move(*connected));
  auto session = Session::connect();
  if (!session) return failure(session.error());
  Screen screen{std::move(*session), nullptr};
  // SWAYSOCK may be left over from another session: the IPC counts only when the process behind it
  // is this compositor.
  if (ipc && ipc->peer() == screen.session->peer() && ipc->peer() > 0 &&
      screen.session->screencopy() != nullptr && screen.session->shm() != nullptr)
    screen.desktop = std::make_unique<SwayDesktop>(*screen.session, std::move(*ipc));
  return screen;
}

}  // namespace

Result<Screen*> screen() {
  static Result<Screen> connected = connectScreen();
  if (!connected) return failure(connected.error());
  return &*connected;
}

}  // namespace mirlet::wayland
