#pragma once
// A screen that answers from a script and remembers what it was asked, for the screen commands.

#include <deque>
#include <string>
#include <vector>

#include "mirlet/platform/screen_capture.hpp"

namespace mirlet::testing {

class FakeScreen final : public ScreenCapture {
 public:
  Result<Content> content = Content{};
  // One answer per picture, window or display, in order; a picture beyond them fails.
  std::deque<Result<Image>> pictures;
  std::deque<bool> writes;  // one answer per PNG write; a write beyond them fails
  // What was asked, one text a call: "window 7 200x100", "display 0,0 3840x2160",
  // "write 200x100 at out.png".
  std::vector<std::string> log;

  Result<Content> listContent() override { return content; }
  Result<Image> captureWindow(std::uint32_t id, PixelSize size) override {
    return picture("window " + std::to_string(id) + " " + text(size));
  }
  Result<Image> captureDisplay(const Rect& frame, PixelSize size) override {
    return picture("display " + number(frame.x) + "," + number(frame.y) + " " + text(size));
  }
  Result<std::vector<Window>> listWindows() override {
    if (!content) return failure(content.error());
    return content->windows;
  }
  Result<std::vector<Display>> listDisplays() override {
    if (!content) return failure(content.error());
    return content->displays;
  }
  Result<void> writePNG(const Image& image, const std::string& path) override {
    log.push_back("write " + text({image.width, image.height}) + " at " + path);
    const bool answer = !writes.empty() && writes.front();
    if (!writes.empty()) writes.pop_front();
    if (!answer) return failure("not written");
    return {};
  }

 private:
  static std::string number(double v) { return std::to_string(static_cast<long long>(v)); }
  static std::string text(PixelSize s) { return number(s.width) + "x" + number(s.height); }
  Result<Image> picture(std::string request) {
    log.push_back(std::move(request));
    if (pictures.empty()) return failure("no picture");
    auto next = std::move(pictures.front());
    pictures.pop_front();
    return next;
  }
};

}  // namespace mirlet::testing
