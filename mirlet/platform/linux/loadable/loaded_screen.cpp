#include "mirlet/platform/linux/loadable/loaded_screen.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

#include "mirlet/platform/linux/loadable/module_loader.hpp"
#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/sway/listing.hpp"

namespace mirlet::loadable {
namespace {

// A socket connected without waiting; -1 when nobody listens at `path` (a compositor whose queue
// of connections is full, EAGAIN, is there: that gives -2).
int connectNow(std::string path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
  path.copy(address.sun_path, path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  const int error = errno;
  ::close(fd);
  return error == EAGAIN ? -2 : -1;
}

pid_t peerOf(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return -1;
  return credentials.pid;
}

enum class Session { x11, sway, otherWayland };

// The connection to sway's IPC that told the session, kept for the listing: -1 when there is
// none, or it was taken.
int swayConnection = -1;

// A Wayland session: WAYLAND_DISPLAY names a socket (in XDG_RUNTIME_DIR, or a path) where a
// compositor takes connections. Its X clients run on XWayland, which sees none of the native
// windows, so such a session never goes to X11. A socket left behind by a compositor that has
// gone refuses the connection.
//
// sway is the compositor when the process behind SWAYSOCK is the one behind WAYLAND_DISPLAY: a
// SWAYSOCK left over from another session does not count. Its sessions list through its IPC here,
// and go to mirlet-wayland.so for access and pictures; every other Wayland session goes to
// mirlet-shell.so, which asks the session bus for GNOME Shell or KWin and so loads libsystemd,
// which sway's runs are spared.
Session session() {
  static const Session answered = [] {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') return Session::x11;
    std::string path = name;
    if (path.front() != '/') {
      const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      if (runtime == nullptr || *runtime == '\0') return Session::x11;
      path = std::string(runtime) + "/" + path;
    }
    const int compositor = connectNow(path);
    if (compositor == -1) return Session::x11;
    const char* swaysock = std::getenv("SWAYSOCK");
    const int sway = swaysock != nullptr ? connectNow(swaysock) : -1;
    const pid_t peer = peerOf(compositor);
    const bool isSway = peer > 0 && peer == peerOf(sway);
    if (compositor >= 0) ::close(compositor);
    if (isSway) {
      swayConnection = sway;
      return Session::sway;
    }
    if (sway >= 0) ::close(sway);
    return Session::otherWayland;
  }();
  return answered;
}

// sway's listings need its IPC alone and no library: they are part of the executable, on the
// connection that told the session.
int listSway(const mirlet_content_sink* sink, mirlet_reason* why) noexcept {
  return module::guard(why, [&]() -> Result<void> {
    auto ipc = swayConnection >= 0
                   ? sway::SwayIpc::adopt(std::exchange(swayConnection, -1))
                   : sway::SwayIpc::connect();
    if (!ipc) return failure(ipc.error());
    return sway::listContent(std::move(*ipc), *sink);
  });
}
int swayOnlyLists(mirlet_reason* why) {
  module::writeReason(why,
                      "sway's listing only lists: access and pictures are mirlet-wayland.so's");
  return -1;
}
constexpr mirlet_screen_module kSwayListing{
    [](int, int*, mirlet_reason* why) noexcept { return swayOnlyLists(why); }, &listSway,
    [](uint32_t, int64_t, int64_t, mirlet_picture*, mirlet_reason* why) noexcept {
      return swayOnlyLists(why);
    },
    [](mirlet_rect, int64_t, int64_t, mirlet_picture*, mirlet_reason* why) noexcept {
      return swayOnlyLists(why);
    }};

// On X11 the listing needs libxcb and RandR alone, and the pictures three more of libxcb's
// extensions: loading those costs a quarter of a millisecond, which `windows` does not pay. On
// sway the listing needs its IPC alone, and libwayland-client with libffi only the pictures and
// the answer on access (whether sway offers screencopy): loading them is about a millisecond.
const Result<const mirlet_screen_module*>& listing() {
  switch (session()) {
    case Session::sway: {
      static const Result<const mirlet_screen_module*> builtIn = &kSwayListing;
      return builtIn;
    }
    case Session::otherWayland: return loadedModule<ShellModule>();
    case Session::x11: break;
  }
  return loadedModule<X11Module>();
}
const Result<const mirlet_screen_module*>& pictures() {
  switch (session()) {
    case Session::sway: return loadedModule<WaylandModule>();
    case Session::otherWayland: return loadedModule<ShellModule>();
    case Session::x11: break;
  }
  return loadedModule<X11PicturesModule>();
}
// Whether the screen may be captured: X11's listing module answers it without the pictures'
// libraries; on sway it is a question about the pictures.
const Result<const mirlet_screen_module*>& accessTable() {
  return session() == Session::sway ? pictures() : listing();
}

Rect rect(const mirlet_rect& r) { return {r.x, r.y, r.width, r.height}; }

// Collects a listing: each item converted once, as it comes. The module calls in from its own
// frames, so nothing may be thrown back through them: a failed copy is remembered instead.
struct Collected {
  Content content;
  bool outOfMemory = false;

  static void window(void* context, const mirlet_window* w) noexcept {
    auto& self = *static_cast<Collected*>(context);
    try {
      self.content.windows.push_back({w->id, std::string(w->title, w->title_length),
                                      std::string(w->app, w->app_length), rect(w->frame)});
    } catch (...) {
      self.outOfMemory = true;
    }
  }
  static void display(void* context, const mirlet_display* d) noexcept {
    auto& self = *static_cast<Collected*>(context);
    try {
      self.content.displays.push_back({d->id, rect(d->frame), d->width, d->height});
    } catch (...) {
      self.outOfMemory = true;
    }
  }
};

// A picture kept without a copy until the last Image that shares it goes; the module frees it.
Image adopt(const mirlet_picture& picture) {
  Image image;
  image.width = picture.image.width;
  image.height = picture.image.height;
  image.bytesPerRow = picture.image.bytes_per_row;
  image.pixels = picture.image.pixels;
  image.storage = std::shared_ptr<void>(picture.owner, picture.release);
  return image;
}

// Runs a module's entry point: 0, or its reason.
template <class Call>
Result<void> ask(Call&& call) {
  mirlet_reason why{};
  if (call(&why) == 0) return {};
  return failure(why.text);
}

class LoadedScreenAccess final : public ScreenAccess {
 public:
  bool preflight() override { return allowed(0); }
  bool request() override { return allowed(1); }

 private:
  static bool allowed(int ask) {
    const auto& module = accessTable();
    int answer = 0;
    mirlet_reason why{};
    return module && (*module)->access(ask, &answer, &why) == 0 && answer != 0;
  }
};

using Table = std::function<Result<const mirlet_screen_module*>()>;

class LoadedScreenCapture final : public ScreenCapture {
 public:
  LoadedScreenCapture(Table listing, Table pictures)
      : listing_(std::move(listing)), pictures_(std::move(pictures)) {}
  Result<Content> listContent() override { return list(true, true); }
  Result<std::vector<Window>> listWindows() override {
    auto listed = list(true, false);
    if (!listed) return failure(listed.error());
    return std::move(listed->windows);
  }
  Result<std::vector<Display>> listDisplays() override {
    auto listed = list(false, true);
    if (!listed) return failure(listed.error());
    return std::move(listed->displays);
  }
  Result<Image> captureWindow(std::uint32_t windowID, PixelSize size) override {
    return picture([&](const mirlet_screen_module& module, mirlet_picture* made,
                       mirlet_reason* why) {
      return module.capture_window(windowID, size.width, size.height, made, why);
    });
  }
  Result<Image> captureDisplay(const Rect& frame, PixelSize size) override {
    return picture([&](const mirlet_screen_module& module, mirlet_picture* made,
                       mirlet_reason* why) {
      const mirlet_rect area{frame.x, frame.y, frame.width, frame.height};
      return module.capture_display(area, size.width, size.height, made, why);
    });
  }
  Result<void> writePNG(const Image& image, const std::string& path) override {
    const auto& module = loadedModule<PngModule>();
    if (!module) return failure(module.error());
    const mirlet_image view{image.width, image.height, image.bytesPerRow, image.pixels};
    return ask([&](mirlet_reason* why) { return (*module)->write_png(&view, path.c_str(), why); });
  }

 private:
  Result<Content> list(bool windows, bool displays) const {
    const auto module = listing_();
    if (!module) return failure(module.error());
    Collected collected;
    const mirlet_content_sink sink{&collected, windows ? &Collected::window : nullptr,
                                   displays ? &Collected::display : nullptr};
    if (auto listed = ask([&](mirlet_reason* why) { return (*module)->list_content(&sink, why); });
        !listed)
      return failure(listed.error());
    if (collected.outOfMemory) return failure("out of memory");
    return std::move(collected.content);
  }

  template <class Capture>
  Result<Image> picture(Capture&& capture) const {
    const auto module = pictures_();
    if (!module) return failure(module.error());
    mirlet_picture made{};
    if (auto taken = ask([&](mirlet_reason* why) { return capture(**module, &made, why); });
        !taken)
      return failure(taken.error());
    return adopt(made);
  }

  Table listing_;
  Table pictures_;
};

}  // namespace

std::unique_ptr<ScreenAccess> makeScreenAccess() { return std::make_unique<LoadedScreenAccess>(); }

std::unique_ptr<ScreenCapture> makeScreenCapture() {
  return std::make_unique<LoadedScreenCapture>(listing, pictures);
}

std::unique_ptr<ScreenCapture> makeScreenCapture(Entry listing, Entry pictures) {
  return std::make_unique<LoadedScreenCapture>(
      [listing]() -> Result<const mirlet_screen_module*> { return listing(); },
      [pictures]() -> Result<const mirlet_screen_module*> { return pictures(); });
}

}  // namespace mirlet::loadable
