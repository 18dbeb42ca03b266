#pragma once
// The screen-capture service: what can be captured, and one-shot pictures.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mirlet/platform/async.hpp"
#include "mirlet/platform/geometry.hpp"
#include "mirlet/platform/image.hpp"
#include "mirlet/platform/media_time.hpp"

namespace mirlet {

struct RunningApplication {
  std::string applicationName;
};

struct Window {
  std::uint32_t windowID = 0;
  std::optional<std::string> title;
  std::optional<RunningApplication> owningApplication;
  Rect frame;  // points, global space
};

struct Display {
  std::uint32_t displayID = 0;
  Rect frame;  // points, global space
  std::int64_t width = 0;   // whole points
  std::int64_t height = 0;  // whole points
};

// Windows front to back and displays, each in the service's fixed order.
struct ShareableContent {
  std::vector<Window> windows;
  std::vector<Display> displays;
};

// What a picture or stream shows.
struct ContentFilter {
  enum class Kind {
    desktopIndependentWindow,      // the window alone, even where others cover it
    displayExcludingWindows,       // the display less `windows`
    displayExcludingApplications,  // the display less `applications`, but for `windows`
  };
  Kind kind = Kind::desktopIndependentWindow;
  Window window;    // for desktopIndependentWindow
  Display display;  // for the two display kinds
  std::vector<Window> windows;
  std::vector<RunningApplication> applications;

  static ContentFilter desktopIndependentWindow(const Window& window) {
    ContentFilter f;
    f.kind = Kind::desktopIndependentWindow;
    f.window = window;
    return f;
  }
  static ContentFilter displayExcludingWindows(const Display& display,
                                               std::vector<Window> excluded) {
    ContentFilter f;
    f.kind = Kind::displayExcludingWindows;
    f.display = display;
    f.windows = std::move(excluded);
    return f;
  }
  static ContentFilter displayExcludingApplications(const Display& display,
                                                    std::vector<RunningApplication> excluded,
                                                    std::vector<Window> excepting) {
    ContentFilter f;
    f.kind = Kind::displayExcludingApplications;
    f.display = display;
    f.applications = std::move(excluded);
    f.windows = std::move(excepting);
    return f;
  }
};

// Settings of a picture request or a stream. Unset values keep the service's defaults.
struct StreamConfiguration {
  std::int64_t width = 0;   // pixels
  std::int64_t height = 0;  // pixels
  bool capturesAudio = false;
  int sampleRate = 48000;
  int channelCount = 2;
  MediaTime minimumFrameInterval;
};

class CaptureService {
 public:
  virtual ~CaptureService() = default;

  // The windows and displays that can be captured, or an error (no display server, refused).
  virtual void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                   Completion<ShareableContent> completion) = 0;

  // One picture of exactly the configured pixel size, content scaled to it, or an error.
  virtual void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                            Completion<Image> completion) = 0;
};

}  // namespace mirlet
