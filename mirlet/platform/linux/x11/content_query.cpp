#include "mirlet/platform/linux/x11/content_query.hpp"

#include <X11/extensions/Xrandr.h>

#include <deque>
#include <memory>

#include "mirlet/platform/linux/x11/window_text.hpp"

namespace mirlet::x11 {
namespace {

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p != nullptr) XFree(p);
  }
};

struct Children {
  ::Window parent = None;
  std::vector<::Window> windows;  // bottom to top
};

std::optional<Children> queryTree(::Display* display, ::Window window) {
  ::Window root = None, parent = None;
  ::Window* raw = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, window, &root, &parent, &raw, &count) == 0) return std::nullopt;
  std::unique_ptr<::Window, XFreeDeleter> children(raw);
  Children result;
  result.parent = parent;
  if (raw != nullptr) result.windows.assign(raw, raw + count);
  return result;
}

bool hasProperty(::Display* display, ::Window window, Atom atom) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display, window, atom, 0, 0, False, AnyPropertyType, &type,
                                        &format, &count, &remaining, &raw);
  std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
  return status == Success && type != None;
}

// The client inside a top-level: the first window carrying WM_STATE, breadth first, or the
// top-level itself when none does (no window manager, or a window it does not manage).
::Window clientOf(::Display* display, Atom wmState, ::Window topLevel) {
  if (wmState == None) return topLevel;
  std::deque<::Window> pending{topLevel};
  // Frames nest a few levels at most; the bound keeps a hostile tree from costing much.
  for (int visited = 0; !pending.empty() && visited < 64; ++visited) {
    const ::Window window = pending.front();
    pending.pop_front();
    if (hasProperty(display, window, wmState)) return window;
    if (auto tree = queryTree(display, window))
      pending.insert(pending.end(), tree->windows.begin(), tree->windows.end());
  }
  return topLevel;
}

}  // namespace

std::vector<mirlet::Window> topLevelWindows(const Connection& connection, bool onScreenOnly) {
  ::Display* display = connection.get();
  std::vector<mirlet::Window> windows;
  const auto tree = queryTree(display, connection.root());
  if (!tree) return windows;
  const TextAtoms atoms = TextAtoms::fetch(display);
  ErrorTrap trap(connection);
  for (auto it = tree->windows.rbegin(); it != tree->windows.rend(); ++it) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, *it, &attributes) == 0) continue;  // gone meanwhile
    if (attributes.c_class != InputOutput || attributes.override_redirect) continue;
    if (onScreenOnly && attributes.map_state != IsViewable) continue;

    const ::Window client = clientOf(display, atoms.wmState, *it);
    mirlet::Window window;
    window.windowID = static_cast<std::uint32_t>(client);
    window.title = windowTitle(display, atoms, client);
    if (auto name = applicationName(display, atoms, client))
      window.owningApplication = RunningApplication{std::move(*name)};
    const double border = 2.0 * attributes.border_width;
    window.frame = Rect{static_cast<double>(attributes.x), static_cast<double>(attributes.y),
                        attributes.width + border, attributes.height + border};
    windows.push_back(std::move(window));
  }
  return windows;
}

std::vector<mirlet::Display> monitors(const Connection& connection) {
  ::Display* display = connection.get();
  std::vector<mirlet::Display> displays;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (XRRQueryExtension(display, &eventBase, &errorBase) &&
      XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5))) {
    int count = 0;
    ErrorTrap trap(connection);
    XRRMonitorInfo* raw = XRRGetMonitors(display, connection.root(), True, &count);
    for (int i = 0; raw != nullptr && i < count; ++i) {
      const XRRMonitorInfo& monitor = raw[i];
      if (monitor.width <= 0 || monitor.height <= 0) continue;
      mirlet::Display d;
      d.displayID = static_cast<std::uint32_t>(monitor.name);
      d.frame = Rect{static_cast<double>(monitor.x), static_cast<double>(monitor.y),
                     static_cast<double>(monitor.width), static_cast<double>(monitor.height)};
      d.width = monitor.width;
      d.height = monitor.height;
      displays.push_back(d);
    }
    if (raw != nullptr) XRRFreeMonitors(raw);
    if (trap.failed()) displays.clear();
  }
  if (displays.empty()) {
    const int screen = DefaultScreen(display);
    mirlet::Display whole;
    whole.displayID = static_cast<std::uint32_t>(connection.root());
    whole.width = DisplayWidth(display, screen);
    whole.height = DisplayHeight(display, screen);
    whole.frame = Rect{0, 0, static_cast<double>(whole.width), static_cast<double>(whole.height)};
    displays.push_back(whole);
  }
  return displays;
}

std::optional<::Window> topLevelOf(const Connection& connection, ::Window window) {
  ::Display* display = connection.get();
  const ::Window root = connection.root();
  ErrorTrap trap(connection);
  for (int depth = 0; window != None && window != root && depth < 64; ++depth) {
    const auto tree = queryTree(display, window);
    if (!tree) return std::nullopt;
    if (tree->parent == root) return window;
    window = tree->parent;
  }
  return std::nullopt;
}

}  // namespace mirlet::x11
