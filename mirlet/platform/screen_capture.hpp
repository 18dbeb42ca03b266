#pragma once
// The screen as the screen commands ask about it: what there is, a picture of one window alone,
// a picture of part of the screen. Every answer is a value or the backend's reason.

#include <cstdint>
#include <string>
#include <vector>

#include "mirlet/platform/rect.hpp"
#include "mirlet/platform/image.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet {

struct Window {
  std::uint32_t windowID = 0;
  std::string title;  // empty when the window has none
  std::string app;    // empty when no application is known
  Rect frame;         // points, global space
};

struct Display {
  std::uint32_t displayID = 0;
  Rect frame;               // points, global space
  std::int64_t width = 0;   // whole points
  std::int64_t height = 0;  // whole points
};

// Capturable windows front to back and the displays, each in the backend's fixed order.
struct Content {
  std::vector<Window> windows;
  std::vector<Display> displays;
};

struct PixelSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  // The windows on screen and the displays, or why they cannot be listed.
  virtual Result<Content> listContent() = 0;
  // The windows alone, front to back.
  virtual Result<std::vector<Window>> listWindows() = 0;
  // The displays alone.
  virtual Result<std::vector<Display>> listDisplays() = 0;
  // The window by itself, even where others cover it, scaled to exactly `size`.
  virtual Result<Image> captureWindow(std::uint32_t windowID, PixelSize size) = 0;
  // What the screen shows inside `frame`, scaled to exactly `size`.
  virtual Result<Image> captureDisplay(const Rect& frame, PixelSize size) = 0;
  // Writes `image` at its own size as a PNG file at `path`; succeeds only when the file is
  // complete.
  virtual Result<void> writePNG(const Image& image, const std::string& path) = 0;
};

}  // namespace mirlet
