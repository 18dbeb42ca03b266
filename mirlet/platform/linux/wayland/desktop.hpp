#pragma once
// The screen of a Wayland session. The displays come from every compositor alike (wl_output,
// xdg-output); which windows there are, how one is captured alone and how the screen is copied,
// each kind of desktop tells its own way: a `Desktop`. sway's is here (desktop.cpp); GNOME
// Shell's and KWin's speak D-Bus and live in the shell module.

#include <cstdint>
#include <memory>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/pixels/picture.hpp"
#include "mirlet/platform/linux/wayland/session.hpp"

namespace mirlet::wayland {

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Whether mirlet may list the windows and take pictures: as things stand (`ask` false), or
  // after asking where the desktop has a way to.
  virtual Result<bool> access(bool ask) = 0;
  // The windows on screen, front to back, each lent to `sink.window`.
  virtual Result<void> listWindows(const mirlet_content_sink& sink) = 0;
  // The window alone at exactly `width` x `height` pixels, or why this desktop cannot give it.
  virtual Result<pixels::Picture> captureWindow(std::uint32_t id, std::int64_t width,
                                                std::int64_t height) = 0;
  // What the screen shows inside `frame` (points), at exactly `width` x `height` pixels.
  virtual Result<pixels::Picture> captureArea(const mirlet_rect& frame, std::int64_t width,
                                              std::int64_t height) = 0;
};

// The session, and the desktop that tells its windows; no desktop on a compositor that has no
// way for mirlet to see its windows.
struct Screen {
  std::unique_ptr<Session> session;
  std::unique_ptr<Desktop> desktop;
};

// sway's screen: its IPC for the windows, wlroots' screencopy for the pictures.
Result<Screen> connectSway();

// What a compositor that mirlet cannot see windows on answers.
inline constexpr const char* kNoWindows =
    "this desktop shows mirlet no windows: mirlet knows sway (its IPC and wlroots' screencopy), "
    "GNOME Shell (with mirlet's extension) and KDE Plasma's KWin";

}  // namespace mirlet::wayland
