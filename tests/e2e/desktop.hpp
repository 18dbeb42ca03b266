#pragma once
// The desktop that the fixture runs, as the screen tests use it: open a window of a colour at a
// place, learn its id and frame as the desktop names them. On the Xvfb (no window manager) a
// window is an xlogo drawn in one colour, exactly where it is asked for; on sway a native window
// is a foot terminal of that colour, an X one an xlogo on XWayland, put there by sway. GNOME and
// KDE place windows themselves: there a window is a GTK window of that colour and size (a native
// one, or on Xwayland), centred.

#include <signal.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

#include "e2e/screen_support.hpp"
#include "mirlet/platform/rect.hpp"

namespace mirlet::testing {

struct WindowWanted {
  std::string title;
  std::uint32_t colour = 0xFF0000;
  Rect frame;           // the outer frame, decoration included; sway tiles a `tiled` window
  bool tiled = false;   // sway only: where sway's layout puts it
  bool x11 = false;     // on sway an XWayland window rather than a native one
  bool hidden = false;  // on no visible workspace (sway), unmapped (X), minimised (GNOME, KDE)
  std::string appId = "mirlet.test";  // a native window's
};

struct DesktopWindow {
  Process process;
  std::string id;   // as `windows` lists it
  std::string app;  // as `windows` names it
  Rect frame;       // as the desktop shows it (points), decoration included
  Rect content;     // the client's own area inside it
  std::string title;
  std::uint32_t colour = 0;
};

inline std::string hex(std::uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%06x", colour & 0xFFFFFF);
  return text;
}

// sway's answer to one question, as JSON.
inline nlohmann::json swayAnswer(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"swaymsg", "-r"};
  argv.insert(argv.end(), args.begin(), args.end());
  return nlohmann::json::parse(run(argv).out, nullptr, false);
}

// The view named `title` in sway's tree; null when there is none.
inline nlohmann::json swayView(const std::string& title) {
  nlohmann::json found;
  const std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& node) {
    if (node.contains("shell") && node.value("name", "") == title) found = node;
    for (const char* key : {"nodes", "floating_nodes"})
      if (node.contains(key))
        for (const auto& child : node[key]) walk(child);
  };
  walk(swayAnswer({"-t", "get_tree"}));
  return found;
}

inline Rect rectOf(const nlohmann::json& r) {
  return {r.value("x", 0.0), r.value("y", 0.0), r.value("width", 0.0), r.value("height", 0.0)};
}

// The frame (title bar included) and the client area of a sway view, now.
inline void placeOnSway(DesktopWindow& window, const std::string& title) {
  const nlohmann::json view = swayView(title);
  if (view.is_null()) return;
  const Rect rect = rectOf(view["rect"]), inner = rectOf(view["window_rect"]);
  const double bar = view["deco_rect"].value("height", 0.0);
  window.frame = {rect.x, rect.y - bar, rect.width, rect.height + bar};
  window.content = {rect.x + inner.x, rect.y + inner.y, inner.width, inner.height};
}

// Whether the screen shows `colour` all over `area` (points), as grim sees it.
inline bool swayShows(const Rect& area, std::uint32_t colour) {
  // The part on screen (the outputs start at 0, 0).
  const double x = std::max(area.x, 0.0), y = std::max(area.y, 0.0);
  char geometry[96];
  std::snprintf(geometry, sizeof geometry, "%g,%g %gx%g", x, y, area.x + area.width - x,
                area.y + area.height - y);
  const std::string ppm = run({"grim", "-t", "ppm", "-g", geometry, "-"}).out;
  // "P6\n<w> <h>\n255\n" and the pixels.
  std::size_t at = 0;
  for (int line = 0; line < 3 && at != std::string::npos; ++line) at = ppm.find('\n', at) + 1;
  if (at == 0 || at >= ppm.size()) return false;
  const char want[3] = {char(colour >> 16), char(colour >> 8), char(colour)};
  for (std::size_t i = at; i + 2 < ppm.size(); i += 3)
    if (ppm.compare(i, 3, want, 3) != 0) return false;
  return true;
}

// Where the window is now, once its client has drawn itself there: a client takes a moment to
// draw at a new size.
inline void settle(DesktopWindow& window) {
  if (testDesktop() != DesktopKind::sway) return;
  eventually(
      [&] {
        placeOnSway(window, window.title);
        return swayShows(window.content, window.colour);
      },
      5s);
}

// The windows as mirlet lists them now.
inline nlohmann::json listed() {
  return nlohmann::json::parse(runMirlet({"windows"}).out, nullptr, false);
}

// Waits until the windows of earlier tests have gone, so they lay out and cover nothing anew.
inline void clearDesktop() {
  if (testDesktop() == DesktopKind::gnome || testDesktop() == DesktopKind::kde) {
    if (!eventually([] { return listed() == nlohmann::json::array(); }, 10s))
      throw std::runtime_error("windows of earlier tests are still on the desktop");
    return;
  }
  if (testDesktop() != DesktopKind::sway) return;
  run({"swaymsg", "workspace 1"});
  eventually(
      [] {
        return swayAnswer({"-t", "get_tree"}).dump().find("\"shell\"") == std::string::npos;
      },
      5s);
}

// A title as KWin shows it: each run of white space one blank, none at the ends.
inline std::string simplified(const std::string& title) {
  std::string shown;
  for (const char c : title) {
    const bool blank = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (!blank) shown += c;
    else if (!shown.empty() && shown.back() != ' ') shown += ' ';
  }
  if (!shown.empty() && shown.back() == ' ') shown.pop_back();
  return shown;
}

// GNOME and KDE: a GTK window, where the desktop puts it. Both centre a new window (the fixture
// asks them to), GNOME in the area below its top bar of 32 points. Nothing but mirlet's own list
// names a window's id there, so the id is the one mirlet lists for its title; windows under 80
// points are not listed, and their id stays unknown.
inline DesktopWindow openShellWindow(const WindowWanted& wanted) {
  const double width = wanted.frame.width, height = wanted.frame.height;
  const double top = testDesktop() == DesktopKind::gnome ? 32 : 0;
  const Rect frame{std::floor((1280 - width) / 2), top + std::floor((720 - top - height) / 2),
                   width, height};
  // The class of an X window is the program's name, which KWin gives in lower case.
  const std::string xClass = testDesktop() == DesktopKind::gnome ? "Test-window.py" : "test-window.py";
  EnvChanges env;
  if (wanted.x11) env.push_back({"GDK_BACKEND", "x11"});
  DesktopWindow window{startOnDesktop({"test-window.py", wanted.appId, wanted.title,
                                       "#" + hex(wanted.colour), std::to_string(int(width)),
                                       std::to_string(int(height))},
                                      env),
                       "",
                       wanted.x11 ? xClass : wanted.appId,
                       frame,
                       frame,
                       testDesktop() == DesktopKind::kde ? simplified(wanted.title) : wanted.title,
                       wanted.colour};
  if (window.process.waitForLine(10s) != "mapped")
    throw std::runtime_error("no window named " + wanted.title + ": " + window.process.wait(0ms).err);
  if (width < 80 || height < 80) return window;
  const auto find = [&] {
    for (const auto& w : listed())
      if (w.value("title", "") == window.title) return std::to_string(w.value("id", 0u));
    return std::string();
  };
  eventually([&] { return !(window.id = find()).empty(); }, 10s);
  if (window.id.empty()) throw std::runtime_error("mirlet does not list " + wanted.title);
  if (wanted.hidden) {
    window.process.signal(SIGUSR1);
    if (!eventually([&] { return find().empty(); }, 10s))
      throw std::runtime_error("mirlet still lists " + wanted.title + " minimised");
  }
  return window;
}

inline DesktopWindow openWindow(const WindowWanted& wanted) {
  if (testDesktop() == DesktopKind::gnome || testDesktop() == DesktopKind::kde)
    return openShellWindow(wanted);
  const std::string colour = hex(wanted.colour);
  const Rect& f = wanted.frame;
  const std::string geometry = std::to_string(int(f.width)) + "x" + std::to_string(int(f.height)) +
                               "+" + std::to_string(int(f.x)) + "+" + std::to_string(int(f.y));
  std::vector<std::string> xlogo{"xlogo",      "-bw",       "0",      "-bg",    "#" + colour, "-fg",
                                 "#" + colour, "-geometry", geometry, "-title", wanted.title};
  if (testDesktop() == DesktopKind::xvfb) {
    // Xt names a window in Latin-1 only: the title's plain start first, then the whole title in
    // UTF-8 (_NET_WM_NAME) by xdotool.
    const std::string plain(wanted.title.begin(),
                            std::ranges::find_if(wanted.title, [](unsigned char c) {
                              return !std::isalnum(c) && c != ' ' && c != '/';
                            }));
    xlogo.back() = plain;
    XClient client = startClient(xlogo, plain);
    if (plain != wanted.title) run({"xdotool", "set_window", "--name", wanted.title, client.id});
    if (wanted.hidden) run({"xdotool", "windowunmap", "--sync", client.id});
    return {std::move(client.process), client.id, "XLogo", f, f, wanted.title, wanted.colour};
  }

  // As sway's own user, in sway's session and its folder (the tests' may be closed to that
  // user): what sway starts itself would get the same.
  const std::string dir = testServicesDir();
  const std::string root =
      readFile(dir + "/sway-root").substr(0, readFile(dir + "/sway-root").find('\n'));
  const std::string user = readFile(dir + "/sway-user");
  const std::string uid = user.substr(0, user.find(':'));
  const std::string gid = user.substr(user.find(':') + 1, user.find('\n') - user.find(':') - 1);
  std::vector<std::string> argv;
  if (uid != std::to_string(::getuid()))
    argv = {"setpriv", "--reuid", uid, "--regid", gid, "--clear-groups"};
  argv.insert(argv.end(),
              {"env", "-i", "PATH=/usr/bin:/bin", "LANG=C.UTF-8", "HOME=" + root + "/home",
               "XDG_RUNTIME_DIR=" + root + "/runtime",
               "WAYLAND_DISPLAY=" + readFile(dir + "/wayland-display")
                                        .substr(0, readFile(dir + "/wayland-display").find('\n')),
               "DISPLAY=" + testDisplay()});
  if (wanted.x11) {
    argv.insert(argv.end(), xlogo.begin(), xlogo.end());
  } else {
    // The cursor hidden, so the terminal is one colour.
    argv.insert(argv.end(),
                {"foot", "--app-id=" + wanted.appId, "--title=" + wanted.title, "-o",
                 "colors.background=" + colour, "sh", "-c", "printf '\\033[?25l'; exec sleep 600"});
  }
  // It opens on a workspace of its own, where nothing covers it while it draws itself.
  run({"swaymsg", "workspace mirlet-new"});
  DesktopWindow window{Process::start(argv, {}, root),
                       "",
                       wanted.x11 ? "XLogo" : wanted.appId,
                       {},
                       {},
                       wanted.title,
                       wanted.colour};
  eventually([&] { return !swayView(wanted.title).is_null(); }, 10s);
  const nlohmann::json view = swayView(wanted.title);
  if (view.is_null()) {
    const RunResult ended = window.process.wait(0ms);
    throw std::runtime_error("no window named " + wanted.title + " on sway: " + ended.err);
  }
  window.id = std::to_string(view["id"].get<std::uint64_t>());
  const std::string con = "[con_id=" + window.id + "] ";
  // A client that has not yet drawn at the size sway first gave it would draw at that size after
  // it is moved, and sway would take that size for the floating window: first it draws, then it
  // moves, asked again until it is where it was asked to be.
  settle(window);
  run({"swaymsg", con + "move container to workspace " + (wanted.hidden ? "hidden" : "1")});
  run({"swaymsg", "workspace 1"});
  if (!wanted.tiled && !wanted.hidden) {
    const std::string place = "floating enable, resize set " + std::to_string(int(f.width)) + " " +
                              std::to_string(int(f.height)) + ", move absolute position " +
                              std::to_string(int(f.x)) + " " + std::to_string(int(f.y));
    eventually(
        [&] {
          run({"swaymsg", con + place});
          placeOnSway(window, wanted.title);
          return window.frame == f;
        },
        5s);
  }
  if (!wanted.hidden) settle(window);
  return window;
}

}  // namespace mirlet::testing

namespace mirlet::testing {

// A session in which mirlet may see no window: an X display that is not there; on sway, the same
// compositor without sway's IPC, as any other Wayland compositor looks; on GNOME, mirlet's
// extension disabled; on KDE, KWin's grant withdrawn. The desktop is given back when the holder
// goes.
class Unseeing {
 public:
  Unseeing() {
    switch (testDesktop()) {
      case DesktopKind::xvfb: env = {{"DISPLAY", ":999"}}; break;
      case DesktopKind::sway: env = {{"SWAYSOCK", std::nullopt}}; break;
      case DesktopKind::gnome: extension("DisableExtension"); break;
      case DesktopKind::kde: grant("revoke", false); break;
    }
  }
  ~Unseeing() {
    if (testDesktop() == DesktopKind::gnome) extension("EnableExtension");
    if (testDesktop() == DesktopKind::kde) grant("grant", true);
  }
  Unseeing(const Unseeing&) = delete;
  EnvChanges env;

 private:
  static void extension(const std::string& method) {
    runOnDesktop({"gdbus", "call", "--session", "-d", "org.gnome.Shell", "-o", "/org/gnome/Shell",
                  "-m", "org.gnome.Shell.Extensions." + method, "mirlet@mirlet.dev"});
  }
  // KWin reads a changed grant within a second or two.
  static void grant(const std::string& action, bool granted) {
    std::vector<std::string> argv{MIRLET_SOURCE_DIR "/scripts/test-services.sh", action,
                                  testServicesDir()};
    if (granted) argv.push_back(mirletBinary());
    run(argv);
    const std::string answer = granted ? "{\"screen\":true}\n" : "{\"screen\":false}\n";
    if (!eventually([&] { return runMirlet({"check"}).out == answer; }, 10s))
      throw std::runtime_error("KWin's grant did not change to " + answer);
  }
};

// No display server at all: no X display, and no Wayland compositor where WAYLAND_DISPLAY says.
inline EnvChanges noDisplayEnv() {
  return {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", "/nonexistent/wayland-0"}};
}

}  // namespace mirlet::testing
