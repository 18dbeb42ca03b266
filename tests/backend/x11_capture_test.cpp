// Pictures from the X11 capture service: the window alone, the screen as shown, the sizes.

// Google Test first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>

#include <stdexcept>

#include "mirlet/platform/linux/x11/screen_capture.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

constexpr unsigned long kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

class Painter {
 public:
  Painter() {
    testDisplay();
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) throw std::runtime_error("no test display");
  }
  ~Painter() { XCloseDisplay(display_); }
  // A window the server paints itself (its background), so it needs no program behind it.
  ::Window fill(int x, int y, unsigned width, unsigned height, unsigned long color,
                bool map = true) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = color;
    const ::Window window =
        XCreateWindow(display_, DefaultRootWindow(display_), x, y, width, height, 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &attributes);
    if (map) XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }
  void destroy(::Window window) {
    XDestroyWindow(display_, window);
    XSync(display_, False);
  }

 private:
  ::Display* display_;
};

Result<Image> capture(const ContentFilter& filter, std::int64_t width, std::int64_t height) {
  StreamConfiguration configuration;
  configuration.width = width;
  configuration.height = height;
  return await<Image>([&](Completion<Image> done) {
    x11::captureImage(filter, configuration, std::move(done));
  });
}

Window windowWithId(::Window id) {
  Window window;
  window.windowID = static_cast<std::uint32_t>(id);
  return window;
}

Display display(Rect frame) {
  Display d;
  d.frame = frame;
  d.width = static_cast<std::int64_t>(frame.width);
  d.height = static_cast<std::int64_t>(frame.height);
  return d;
}

unsigned long pixelAt(const Image& image, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = image.row(y) + std::size_t{x} * 4;
  return (static_cast<unsigned long>(p[2]) << 16) | (static_cast<unsigned long>(p[1]) << 8) | p[0];
}

// How many pixels of `image` are not `color`.
std::size_t pixelsOtherThan(const Image& image, unsigned long color) {
  std::size_t count = 0;
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < image.width; ++x) count += pixelAt(image, x, y) != color;
  return count;
}

TEST(BackendX11Capture, WindowAloneEvenWhereCoveredAtTheAskedSize) {
  Painter painter;
  const ::Window red = painter.fill(300, 300, 100, 50, kRed);
  painter.fill(250, 280, 300, 150, kGreen);  // covers the red one wholly
  struct Case {
    std::int64_t width, height;
  };
  for (const Case c : {Case{200, 100}, Case{333, 77}, Case{2, 2}}) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    const auto picture =
        capture(ContentFilter::desktopIndependentWindow(windowWithId(red)), c.width, c.height);
    ASSERT_TRUE(picture) << picture.error().description;
    EXPECT_EQ(picture->width, c.width);
    EXPECT_EQ(picture->height, c.height);
    EXPECT_EQ(pixelsOtherThan(*picture, kRed), 0u);
  }
}

TEST(BackendX11Capture, DisplayShowsWhatIsOnTopAndBlackBeyondTheScreen) {
  Painter painter;
  painter.fill(300, 300, 100, 50, kRed);
  painter.fill(250, 280, 300, 150, kGreen);
  painter.fill(1880, 1040, 40, 40, kBlue);  // the screen's bottom right corner
  const auto whole =
      capture(ContentFilter::displayExcludingWindows(display({0, 0, 1920, 1080}), {}), 3840, 2160);
  ASSERT_TRUE(whole) << whole.error().description;
  ASSERT_EQ(whole->width, 3840u);
  EXPECT_EQ(pixelAt(*whole, 2 * 320, 2 * 310), kGreen);
  EXPECT_EQ(pixelAt(*whole, 2 * 320 + 1, 2 * 310 + 1), kGreen);
  EXPECT_EQ(pixelAt(*whole, 3839, 2159), kBlue);

  // A monitor reaching 100 points past the screen's right and bottom edges.
  const auto past =
      capture(ContentFilter::displayExcludingWindows(display({1820, 980, 200, 200}), {}), 400, 400);
  ASSERT_TRUE(past) << past.error().description;
  EXPECT_EQ(pixelAt(*past, 2 * 80, 2 * 80), kBlue);
  EXPECT_EQ(pixelAt(*past, 399, 399), 0u);
  EXPECT_EQ(pixelAt(*past, 2 * 99 + 1, 10), pixelAt(*whole, 2 * 1919 + 1, 2 * 985));
}

TEST(BackendX11Capture, WindowsThatCannotBeCapturedAreErrors) {
  Painter painter;
  const ::Window hidden = painter.fill(10, 10, 100, 100, kRed, false);
  const ::Window gone = painter.fill(10, 10, 100, 100, kRed);
  painter.destroy(gone);
  for (const ::Window id : {hidden, gone, ::Window{0}, ::Window{0x7fffffff}}) {
    SCOPED_TRACE(id);
    const auto picture = capture(ContentFilter::desktopIndependentWindow(windowWithId(id)), 20, 20);
    EXPECT_FALSE(picture);
  }
  for (const auto& size : {std::pair<std::int64_t, std::int64_t>{0, 10}, {10, -1}, {1 << 20, 10}}) {
    const auto picture = capture(
        ContentFilter::displayExcludingWindows(display({0, 0, 1920, 1080}), {}), size.first,
        size.second);
    EXPECT_FALSE(picture);
  }
}

}  // namespace
}  // namespace mirlet::testing
