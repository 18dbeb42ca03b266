#pragma once
// The screen of a Wayland session. The displays and the pictures of the screen are the same on
// every compositor that offers them (wl_output, xdg-output, screencopy); which windows there are,
// and how one is captured alone, each kind of desktop tells its own way: a `Desktop`.

#include <cstdint>
#include <memory>
#include <vector>

#include "mirlet/platform/linux/pixels/picture.hpp"
#include "mirlet/platform/linux/wayland/session.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet::wayland {

class Desktop {
 public:
  virtual ~Desktop() = default;
  // The windows on screen, front to back.
  virtual Result<std::vector<Window>> windows() = 0;
  // The window alone at exactly `size`, or why this desktop cannot give it.
  virtual Result<pixels::Picture> captureWindow(std::uint32_t id, PixelSize size) = 0;
};

// The session, and the desktop that tells its windows; no desktop on a compositor that has no
// way for mirlet to see its windows.
struct Screen {
  std::unique_ptr<Session> session;
  std::unique_ptr<Desktop> desktop;
};

// Connects once per process; later calls give the same screen, or the same reason.
Result<Screen*> screen();

// What every compositor that mirlet cannot see windows on answers.
inline constexpr const char* kNoWindows =
    "this compositor shows mirlet no windows (it needs sway's IPC and wlroots' screencopy)";

}  // namespace mirlet::wayland
