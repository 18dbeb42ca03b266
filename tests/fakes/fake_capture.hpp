#pragma once
// A capture service and an image output that answer from scripts and remember every request, for
// the screen commands' tests.

#include <deque>
#include <string>
#include <vector>

#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/image_output.hpp"

namespace mirlet::testing {

inline Window makeWindow(std::uint32_t id, Rect frame, std::optional<std::string> title = {},
                         std::optional<std::string> app = {}) {
  Window window;
  window.windowID = id;
  window.frame = frame;
  window.title = std::move(title);
  if (app) window.owningApplication = RunningApplication{*app};
  return window;
}

inline Display makeDisplay(std::uint32_t id, Rect frame) {
  Display display;
  display.displayID = id;
  display.frame = frame;
  display.width = static_cast<std::int64_t>(frame.width);
  display.height = static_cast<std::int64_t>(frame.height);
  return display;
}

class ScriptedCaptureService final : public CaptureService {
 public:
  struct Request {
    ContentFilter filter;
    StreamConfiguration configuration;
  };
  struct Query {
    bool excludingDesktopWindows;
    bool onScreenWindowsOnly;
  };

  Result<ShareableContent> content = ShareableContent{};
  // One answer per picture request, in order; a request beyond them fails.
  std::deque<Result<Image>> pictures;
  std::vector<Query> queries;
  std::vector<Request> requests;

  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           Completion<ShareableContent> completion) override {
    queries.push_back({excludingDesktopWindows, onScreenWindowsOnly});
    completion(content);
  }
  void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                    Completion<Image> completion) override {
    requests.push_back({filter, configuration});
    if (pictures.empty()) return completion(failure("no picture scripted"));
    auto next = std::move(pictures.front());
    pictures.pop_front();
    completion(std::move(next));
  }
};

class ScriptedImageOutput final : public ImageOutput {
 public:
  struct Write {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t firstPixel;  // blue, green, red, unused of the top left pixel, low byte first
    std::string path;
  };
  // One answer per write, in order; a write beyond them fails.
  std::deque<bool> answers;
  std::vector<Write> writes;

  bool writePNG(const Image& image, const std::string& to) override {
    std::uint32_t first = 0;
    if (image.width > 0 && image.height > 0)
      for (int i = 3; i >= 0; --i) first = (first << 8) | image.pixels[i];
    writes.push_back({image.width, image.height, first, to});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// A picture whose every pixel tells where it is: blue = x, green = y (both modulo 256).
inline Image coordinateImage(std::uint32_t width, std::uint32_t height) {
  return makeImage(width, height, [&](std::uint8_t* pixels, std::size_t bytesPerRow) {
    for (std::uint32_t y = 0; y < height; ++y)
      for (std::uint32_t x = 0; x < width; ++x) {
        std::uint8_t* p = pixels + y * bytesPerRow + x * 4;
        p[0] = static_cast<std::uint8_t>(x);
        p[1] = static_cast<std::uint8_t>(y);
      }
  });
}

}  // namespace mirlet::testing
