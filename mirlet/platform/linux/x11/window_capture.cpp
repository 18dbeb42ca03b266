#include "mirlet/platform/linux/x11/window_capture.hpp"

#include <X11/Xlib-xcb.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "mirlet/platform/linux/x11/pixels.hpp"

namespace mirlet::x11 {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a redirected window may take to repaint what it was asked to: the first drawing after
// the exposures, then a short quiet spell after the last. A program that does not answer in time
// is captured as it stands.
constexpr auto kRepaintLimit = 500ms;
constexpr auto kQuietAfterDrawing = 15ms;

// Sends the window back on screen when the capture is done.
class Redirection {
 public:
  Redirection(const Connection& connection, ::Window window)
      : connection_(connection), window_(window) {
    XCompositeRedirectWindow(connection.get(), window, CompositeRedirectAutomatic);
  }
  ~Redirection() {
    ErrorTrap trap(connection_);
    XCompositeUnredirectWindow(connection_.get(), window_, CompositeRedirectAutomatic);
  }
  Redirection(const Redirection&) = delete;
  Redirection& operator=(const Redirection&) = delete;

 private:
  const Connection& connection_;
  ::Window window_;
};

class Damage {
 public:
  Damage(const Connection& connection, ::Window window)
      : connection_(connection),
        damage_(XDamageCreate(connection.get(), window, XDamageReportRawRectangles)) {}
  ~Damage() {
    ErrorTrap trap(connection_);
    if (damage_ != None) XDamageDestroy(connection_.get(), damage_);
  }
  Damage(const Damage&) = delete;
  Damage& operator=(const Damage&) = delete;

 private:
  const Connection& connection_;
  ::Damage damage_;
};

class Pixmap {
 public:
  Pixmap(const Connection& connection, ::Pixmap pixmap)
      : connection_(connection), pixmap_(pixmap) {}
  ~Pixmap() {
    ErrorTrap trap(connection_);
    if (pixmap_ != None) XFreePixmap(connection_.get(), pixmap_);
  }
  Pixmap(const Pixmap&) = delete;
  Pixmap& operator=(const Pixmap&) = delete;
  ::Pixmap get() const { return pixmap_; }

 private:
  const Connection& connection_;
  ::Pixmap pixmap_;
};

// Asks for the exposures of `window` and every window inside it: a redirected window is exposed
// where its pixels were not on screen, and those are the parts its program must paint again.
void watchExposures(::Display* display, ::Window window) {
  std::deque<::Window> pending{window};
  for (int visited = 0; !pending.empty() && visited < 256; ++visited) {
    const ::Window current = pending.front();
    pending.pop_front();
    XSelectInput(display, current, ExposureMask);
    ::Window root = None, parent = None, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, current, &root, &parent, &children, &count) == 0) continue;
    if (children != nullptr) {
      pending.insert(pending.end(), children, children + count);
      XFree(children);
    }
  }
}

// Waits, within the limit, for the program to repaint after the exposures the redirect caused.
void awaitRepaint(const Connection& connection, int damageEvent) {
  ::Display* display = connection.get();
  if (!connection.sync()) return;
  const auto start = Clock::now();
  bool exposed = false;
  std::optional<Clock::time_point> lastDrawing;
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == Expose) exposed = true;
      if (event.type == damageEvent + XDamageNotify && exposed) lastDrawing = Clock::now();
    }
    if (!exposed) return;  // every pixel was already on screen, so the picture is current
    const auto now = Clock::now();
    if (now - start >= kRepaintLimit) return;
    if (lastDrawing && now - *lastDrawing >= kQuietAfterDrawing) return;
    auto wait = kRepaintLimit - (now - start);
    if (lastDrawing) wait = std::min<Clock::duration>(wait, kQuietAfterDrawing - (now - *lastDrawing));
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    if (poll(&fd, 1, static_cast<int>(std::max<long long>(ms, 1))) < 0 && errno != EINTR) return;
    if (!connection.alive()) return;
  }
}

// The child of the root that holds `window` (the window manager's frame around a client), or
// nothing when `window` is not on this screen or no longer exists. Asked over XCB, whose errors
// come back with the reply instead of through Xlib's handler.
std::optional<::Window> topLevelOf(const Connection& connection, ::Window window) {
  xcb_connection_t* c = XGetXCBConnection(connection.get());
  const ::Window root = connection.root();
  for (int depth = 0; window != None && window != root && depth < 64; ++depth) {
    xcb_generic_error_t* error = nullptr;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, static_cast<xcb_window_t>(window)), &error),
        &std::free);
    std::free(error);
    if (!tree) return std::nullopt;
    if (tree->parent == root) return window;
    window = tree->parent;
  }
  return std::nullopt;
}

}  // namespace

Result<Image> captureWindowPixels(const Connection& connection, ::Window client) {
  ::Display* display = connection.get();
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XCompositeQueryExtension(display, &eventBase, &errorBase) ||
      !XCompositeQueryVersion(display, &major, &minor) || (major == 0 && minor < 2))
    return failure("the X server has no Composite extension");
  int damageEvent = 0, damageError = 0;
  const bool damage = XDamageQueryExtension(display, &damageEvent, &damageError) != 0;

  const auto topLevel = topLevelOf(connection, client);
  if (!topLevel) return failure("no such window");
  ErrorTrap trap(connection);
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, *topLevel, &attributes) == 0 || trap.failed())
    return failure("the window is gone");
  if (attributes.map_state != IsViewable) return failure("the window is not on screen");

  watchExposures(display, *topLevel);
  std::optional<Damage> drawing;
  if (damage) drawing.emplace(connection, *topLevel);
  Redirection redirection(connection, *topLevel);
  awaitRepaint(connection, damage ? damageEvent : -1000);
  if (trap.failed()) return failure(trap.description());

  Pixmap pixmap(connection, XCompositeNameWindowPixmap(display, *topLevel));
  if (trap.failed()) return failure(trap.description());
  const int border = attributes.border_width;
  return readPixels(connection, Source{pixmap.get(), attributes.visual, attributes.depth, 0, 0,
                                       static_cast<unsigned>(attributes.width + 2 * border),
                                       static_cast<unsigned>(attributes.height + 2 * border)});
}

Result<Image> captureScreenPixels(const Connection& connection, const Rect& frame) {
  ::Display* display = connection.get();
  const int screen = DefaultScreen(display);
  const Source whole{connection.root(), DefaultVisual(display, screen),
                     DefaultDepth(display, screen),  0, 0,
                     static_cast<unsigned>(DisplayWidth(display, screen)),
                     static_cast<unsigned>(DisplayHeight(display, screen))};
  const auto left = static_cast<long long>(minX(frame));
  const auto top = static_cast<long long>(minY(frame));
  const auto right = static_cast<long long>(maxX(frame));
  const auto bottom = static_cast<long long>(maxY(frame));
  if (right <= left || bottom <= top || right - left > 65535 || bottom - top > 65535)
    return failure("the display has no usable size");
  const long long inLeft = std::max<long long>(left, 0);
  const long long inTop = std::max<long long>(top, 0);
  const long long inRight = std::min<long long>(right, whole.width);
  const long long inBottom = std::min<long long>(bottom, whole.height);
  Source source = whole;
  source.x = static_cast<int>(inLeft);
  source.y = static_cast<int>(inTop);
  if (inRight <= inLeft || inBottom <= inTop) {
    source.width = source.height = 0;
  } else {
    source.width = static_cast<unsigned>(inRight - inLeft);
    source.height = static_cast<unsigned>(inBottom - inTop);
  }
  const bool inside = inLeft == left && inTop == top && inRight == right && inBottom == bottom;
  if (inside) return readPixels(connection, source);

  // A monitor reaching past the screen's edge: what lies outside is black.
  Image visible;
  if (source.width > 0) {
    auto read = readPixels(connection, source);
    if (!read) return read;
    visible = std::move(*read);
  }
  return makeImage(static_cast<std::uint32_t>(right - left), static_cast<std::uint32_t>(bottom - top),
                   [&](std::uint8_t* pixels, std::size_t stride) {
                     for (std::uint32_t y = 0; y < visible.height; ++y)
                       std::memcpy(pixels + (inTop - top + y) * stride + (inLeft - left) * 4,
                                   visible.row(y), std::size_t{visible.width} * 4);
                   });
}

}  // namespace mirlet::x11
