#include "mirlet/platform/linux/wayland/desktop.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "mirlet/platform/linux/sway/listing.hpp"
#include "mirlet/platform/linux/sway/sway_ipc.hpp"
#include "mirlet/platform/linux/wayland/screencopy.hpp"

namespace mirlet::wayland {
namespace {

using sway::NamedWindow;
using sway::SwayIpc;

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

  // Any client may list and copy here: there is nothing to ask.
  Result<bool> access(bool) override { return true; }

  Result<void> listWindows(const mirlet_content_sink& sink) override {
    const auto listed = windows();
    if (!listed) return failure(listed.error());
    sway::lendWindows(**listed, sink);
    return {};
  }

  Result<pixels::Picture> captureWindow(std::uint32_t id, std::int64_t width,
                                        std::int64_t height) override {
    const auto listed = windows();
    if (!listed) return failure(listed.error());
    const auto window =
        std::ranges::find(**listed, id, [](const NamedWindow& w) { return w.tree.id; });
    if (window == (*listed)->end()) return failure("no window on screen has that id");
    for (auto above = (*listed)->begin(); above != window; ++above)
      if (overlaps(above->tree.frame, window->tree.frame))
        return failure("another window covers it, and only what shows can be copied here");
    return wayland::captureArea(session_, window->tree.frame, width, height);
  }

  Result<pixels::Picture> captureArea(const mirlet_rect& frame, std::int64_t width,
                                      std::int64_t height) override {
    return wayland::captureArea(session_, {frame.x, frame.y, frame.width, frame.height}, width,
                                height);
  }

 private:
  // The tree's windows with their applications named, asked for once per run: one snapshot, as
  // the commands expect.
  Result<const std::vector<NamedWindow>*> windows() {
    if (!listed_) {
      const auto tree = ipc_.receive(SwayIpc::kGetTree);
      if (!tree) return failure(tree.error());
      auto named = sway::namedWindows(*tree);
      if (!named) return failure(named.error());
      listed_ = std::move(*named);
    }
    return &*listed_;
  }

  Session& session_;
  SwayIpc ipc_;
  std::optional<std::vector<NamedWindow>> listed_;
};

}  // namespace

// Compositors that list their windows with ext-foreign-toplevel-list and capture one with
// ext-image-copy-capture (newer wlroots) would get a desktop of their own, chosen by
// `session.offers(…)`.
Result<Screen> connectSway() {
  // sway's tree is asked for first, so that sway builds it while the Wayland globals come.
  std::optional<SwayIpc> ipc;
  if (auto connected = SwayIpc::connect(); connected && connected->send({SwayIpc::kGetTree}))
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

}  // namespace mirlet::wayland
