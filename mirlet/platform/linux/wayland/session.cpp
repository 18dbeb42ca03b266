#include "mirlet/platform/linux/wayland/session.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "wlr-screencopy-unstable-v1-client.h"
#include "xdg-output-unstable-v1-client.h"

namespace mirlet::wayland {
namespace {

template <class Proxy>
Proxy* bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
            std::uint32_t offered, std::uint32_t wanted) {
  return static_cast<Proxy*>(
      wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

// wl_output: the scale and the transform; xdg-output: the place and size in points.
const wl_output_listener kOutputListener = {
    .geometry = [](void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t, const char*, const char*,
                   std::int32_t transform) { static_cast<Output*>(data)->transform = transform; },
    .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
    .done = [](void*, wl_output*) {},
    .scale = [](void* data, wl_output*,
                std::int32_t scale) { static_cast<Output*>(data)->scale = std::max(1, scale); },
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

const zxdg_output_v1_listener kXdgOutputListener = {
    .logical_position =
        [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
          auto* output = static_cast<Output*>(data);
          output->logical.x = x;
          output->logical.y = y;
        },
    .logical_size =
        [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
          auto* output = static_cast<Output*>(data);
          output->logical.width = width;
          output->logical.height = height;
          output->placed = width > 0 && height > 0;
        },
    .done = [](void*, zxdg_output_v1*) {},
    .name = [](void* data, zxdg_output_v1*,
               const char* name) { static_cast<Output*>(data)->connector = name; },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

const wl_registry_listener kRegistryListener = {
    .global = nullptr,  // set in connect(): a static member function
    .global_remove = nullptr,
};

const wl_callback_listener kDoneListener = {
    .done = [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; },
};

}  // namespace

void Session::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
  auto* session = static_cast<Session*>(data);
  const std::string kind = interface;
  session->interfaces_.push_back(kind);
  if (kind == wl_output_interface.name) {
    auto output = std::make_unique<Output>();
    output->name = name;
    // Version 3 has everything used here; version 4 adds only texts that xdg-output gives too.
    output->output = bind<wl_output>(registry, name, &wl_output_interface, version, 3);
    wl_output_add_listener(output->output, &kOutputListener, output.get());
    session->outputs_.push_back(std::move(output));
  } else if (kind == zxdg_output_manager_v1_interface.name) {
    session->xdgOutputs_ =
        bind<zxdg_output_manager_v1>(registry, name, &zxdg_output_manager_v1_interface, version, 3);
  } else if (kind == zwlr_screencopy_manager_v1_interface.name) {
    session->screencopy_ = bind<zwlr_screencopy_manager_v1>(
        registry, name, &zwlr_screencopy_manager_v1_interface, version, 3);
  } else if (kind == wl_shm_interface.name) {
    session->shm_ = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
  }
}

namespace {

// The compositor's socket, connected without waiting: libwayland's own connect would wait for a
// compositor whose queue of connections is full, with no end.
Result<int> compositorSocket() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') return failure("WAYLAND_DISPLAY is not set");
  std::string path = name;
  if (path.front() != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return failure("XDG_RUNTIME_DIR is not set");
    path = std::string(runtime) + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return failure("WAYLAND_DISPLAY is too long");
  path.copy(address.sun_path, path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return failure(std::string("socket: ") + std::strerror(errno));
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    return failure("cannot connect to the Wayland compositor at " + path + ": " +
                   std::strerror(error));
  }
  return fd;
}

}  // namespace

Result<std::unique_ptr<Session>> Session::connect() {
  std::unique_ptr<Session> session(new Session);
  const auto fd = compositorSocket();
  if (!fd) return failure(fd.error());
  // The display takes the socket over and closes it when it goes, or when it cannot be made.
  session->display_ = wl_display_connect_to_fd(*fd);
  if (session->display_ == nullptr)
    return failure(std::string("cannot connect to the Wayland compositor: ") +
                   std::strerror(errno));
  session->registry_ = wl_display_get_registry(session->display_);
  static const wl_registry_listener listener = [] {
    wl_registry_listener made = kRegistryListener;
    made.global = &Session::global;
    made.global_remove = &Session::globalRemove;
    return made;
  }();
  wl_registry_add_listener(session->registry_, &listener, session.get());
  if (auto listed = session->roundtrip("the compositor's globals"); !listed)
    return failure(listed.error());

  // Each output's place in the global space: asked for all outputs together, one round trip.
  if (session->xdgOutputs_ != nullptr) {
    for (auto& output : session->outputs_) {
      output->xdgOutput =
          zxdg_output_manager_v1_get_xdg_output(session->xdgOutputs_, output->output);
      zxdg_output_v1_add_listener(output->xdgOutput, &kXdgOutputListener, output.get());
    }
  }
  if (auto described = session->roundtrip("the outputs"); !described)
    return failure(described.error());
  // Without xdg-output there is no global space to place windows and pictures in.
  std::erase_if(session->outputs_, [](const auto& output) { return !output->placed; });
  return session;
}

Session::~Session() {
  for (auto& output : outputs_) {
    if (output->xdgOutput != nullptr) zxdg_output_v1_destroy(output->xdgOutput);
    wl_output_destroy(output->output);
  }
  if (xdgOutputs_ != nullptr) zxdg_output_manager_v1_destroy(xdgOutputs_);
  if (screencopy_ != nullptr) zwlr_screencopy_manager_v1_destroy(screencopy_);
  if (shm_ != nullptr) wl_shm_destroy(shm_);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  if (display_ != nullptr) wl_display_disconnect(display_);
}

bool Session::offers(const std::string& interface) const {
  return std::ranges::find(interfaces_, interface) != interfaces_.end();
}

pid_t Session::peer() const {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(wl_display_get_fd(display_), SOL_SOCKET, SO_PEERCRED, &credentials, &length) !=
      0)
    return -1;
  return credentials.pid;
}

Result<void> Session::broken(const std::string& what) const {
  const int error = wl_display_get_error(display_);
  if (error == EPROTO) return failure("the compositor refused a request while asking for " + what);
  return failure("the connection to the compositor broke while asking for " + what + ": " +
                 std::strerror(error != 0 ? error : EPIPE));
}

Result<void> Session::dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline,
                                    const std::string& what) {
  for (;;) {
    if (wl_display_dispatch_pending(display_) < 0) return broken(what);
    if (done()) return {};
    if (wl_display_prepare_read(display_) != 0) continue;
    // Requests go out before waiting for their answers; a full socket is waited on as well.
    short events = POLLIN;
    if (wl_display_flush(display_) < 0) {
      if (errno != EAGAIN) {
        wl_display_cancel_read(display_);
        return broken(what);
      }
      events |= POLLOUT;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd socket{wl_display_get_fd(display_), events, 0};
    const int ready = left.count() <= 0 ? 0 : ::poll(&socket, 1, static_cast<int>(left.count()));
    if (ready <= 0) {
      wl_display_cancel_read(display_);
      if (ready < 0 && errno == EINTR) continue;
      return failure("the compositor did not answer in time while asking for " + what);
    }
    if ((socket.revents & POLLIN) == 0) {
      wl_display_cancel_read(display_);
      if ((socket.revents & (POLLERR | POLLHUP)) != 0) return broken(what);
      continue;
    }
    if (wl_display_read_events(display_) < 0) return broken(what);
  }
}

Result<void> Session::roundtrip(const std::string& what) {
  bool done = false;
  wl_callback* callback = wl_display_sync(display_);
  wl_callback_add_listener(callback, &kDoneListener, &done);
  auto waited = dispatchUntil([&] { return done; }, Clock::now() + kAnswerTime, what);
  wl_callback_destroy(callback);
  return waited;
}

}  // namespace mirlet::wayland
