// The X11 listing and pictures against the private Xvfb, with windows this test makes itself, so
// every property can be set exactly as odd programs set them, and the server paints them itself.

// Google Test first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "mirlet/platform/linux/x11/screen_capture.hpp"
#include "mirlet/platform/linux/xcb/list_content.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

// A connection of the test's own; its windows go when it closes.
class TestClient {
 public:
  TestClient() {
    testDisplay();
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) throw std::runtime_error("no test display");
  }
  ~TestClient() { XCloseDisplay(display_); }
  ::Display* get() const { return display_; }

  ::Window make(int x, int y, unsigned width, unsigned height, unsigned long background = 0,
                unsigned border = 0, bool overrideRedirect = false, bool map = true,
                unsigned long borderColor = 0) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = background;
    attributes.border_pixel = borderColor;
    attributes.override_redirect = overrideRedirect;
    const ::Window window = XCreateWindow(
        display_, DefaultRootWindow(display_), x, y, width, height, border, CopyFromParent,
        InputOutput, CopyFromParent, CWBackPixel | CWBorderPixel | CWOverrideRedirect,
        &attributes);
    if (map) XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }
  ::Window makeInputOnly(int x, int y) {
    XSetWindowAttributes attributes{};
    const ::Window window = XCreateWindow(display_, DefaultRootWindow(display_), x, y, 200, 200,
                                          0, 0, InputOnly, CopyFromParent, 0, &attributes);
    XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }
  void set(::Window window, const char* name, const char* type, const std::string& bytes) {
    XChangeProperty(display_, window, XInternAtom(display_, name, False),
                    XInternAtom(display_, type, False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<int>(bytes.size()));
    XSync(display_, False);
  }
  void setCardinal(::Window window, const char* name, long value) {
    XChangeProperty(display_, window, XInternAtom(display_, name, False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
    XSync(display_, False);
  }

 private:
  ::Display* display_;
};

Content query() {
  testDisplay();
  auto content = xcb::listContent();
  if (!content) throw std::runtime_error(content.error().description);
  return *content;
}

const Window* find(const Content& content, ::Window id) {
  for (const auto& window : content.windows)
    if (window.windowID == id) return &window;
  return nullptr;
}

constexpr unsigned long kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

unsigned long pixelAt(const Image& image, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = image.row(y) + std::size_t{x} * 4;
  return (static_cast<unsigned long>(p[2]) << 16) | (static_cast<unsigned long>(p[1]) << 8) | p[0];
}

TEST(BackendX11Content, TitlesInEveryEncodingAndApplicationNames) {
  TestClient client;
  struct Case {
    std::vector<std::pair<const char*, std::pair<const char*, std::string>>> properties;
    long pid;
    std::string title;
    std::string app;
  };
  const std::string utf8 = "a/b \"q\"\\\n\xc3\xa9\xe2\x9c\x93";
  const std::vector<Case> cases = {
      {{{"_NET_WM_NAME", {"UTF8_STRING", utf8}}, {"WM_NAME", {"STRING", "old"}}}, 0, utf8, {}},
      // Some programs store _NET_WM_NAME as STRING; it is still taken as it is.
      {{{"_NET_WM_NAME", {"STRING", "plain"}}}, 0, "plain", {}},
      {{{"WM_NAME", {"STRING", "caf\xe9"}}}, 0, "caf\xc3\xa9", {}},
      {{{"WM_NAME", {"COMPOUND_TEXT", "caf\xe9"}}}, 0, "caf\xc3\xa9", {}},
      {{{"WM_NAME", {"UTF8_STRING", "\xe2\x9c\x93"}}}, 0, "\xe2\x9c\x93", {}},
      {{{"WM_CLASS", {"STRING", std::string("inst\0Klass\0", 11)}}}, getpid(), {}, "Klass"},
      {{}, getpid(), {}, "mirlet_tests"},
      {{}, 0, {}, {}},
  };
  std::vector<::Window> windows;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ::Window window = client.make(10 + 20 * static_cast<int>(i), 10, 100, 100);
    for (const auto& [name, value] : cases[i].properties)
      client.set(window, name, value.first, value.second);
    if (cases[i].pid != 0) client.setCardinal(window, "_NET_WM_PID", cases[i].pid);
    windows.push_back(window);
  }
  const Content content = query();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Window* window = find(content, windows[i]);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title, cases[i].title);
    EXPECT_EQ(window->app, cases[i].app.substr(0, 15));  // /proc cuts command names to 15 bytes
  }
}

TEST(BackendX11Content, WhichTopLevelsAreListedFrontToBackWithOuterFrames) {
  TestClient client;
  const ::Window bottom = client.make(-40, -30, 300, 200, 0, 5);
  const ::Window hidden = client.make(50, 50, 100, 100, 0, 0, false, false);
  const ::Window popup = client.make(60, 60, 100, 100, 0, 0, true);
  const ::Window input = client.makeInputOnly(70, 70);
  const ::Window top = client.make(100, 120, 80, 80);

  const Content onScreen = query();
  ASSERT_NE(find(onScreen, bottom), nullptr);
  ASSERT_NE(find(onScreen, top), nullptr);
  EXPECT_EQ(find(onScreen, hidden), nullptr);
  EXPECT_EQ(find(onScreen, popup), nullptr);
  EXPECT_EQ(find(onScreen, input), nullptr);
  // The X border is part of the frame; the origin is its outer corner.
  EXPECT_EQ(find(onScreen, bottom)->frame, (Rect{-40, -30, 310, 210}));
  EXPECT_EQ(find(onScreen, top)->frame, (Rect{100, 120, 80, 80}));
  const auto position = [&](::Window w) {
    return std::find_if(onScreen.windows.begin(), onScreen.windows.end(),
                        [&](const Window& x) { return x.windowID == w; }) -
           onScreen.windows.begin();
  };
  EXPECT_LT(position(top), position(bottom));  // front first
  XRaiseWindow(client.get(), bottom);
  XSync(client.get(), False);
  EXPECT_EQ(query().windows.front().windowID, bottom);
}

// A window manager's frames, made by hand: the client is the first window carrying WM_STATE,
// breadth first, however many decoration windows sit beside it and however deep it lies.
TEST(BackendX11Content, ClientsAreFoundBeneathFramesOfAnyWidthAndDepth) {
  TestClient client;
  ::Display* display = client.get();
  const auto child = [&](::Window parent) {
    XSetWindowAttributes attributes{};
    const ::Window window = XCreateWindow(display, parent, 0, 0, 10, 10, 0, CopyFromParent,
                                          InputOutput, CopyFromParent, 0, &attributes);
    XMapWindow(display, window);
    return window;
  };
  const auto markClient = [&](::Window window) {
    const long state[2] = {1, 0};
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    XChangeProperty(display, window, wmState, wmState, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state), 2);
  };
  const auto decorate = [&](::Window frame, int count) {
    for (int i = 0; i < count; ++i) child(frame);
  };
  struct Case {
    const char* name;
    int decorations;  // beside the client's branch
    int depth;        // 1: the frame's own child
    bool marked;
  };
  const Case cases[] = {
      {"wide frame, client beneath it", 40, 1, true},
      {"wide frame, client two levels down", 40, 2, true},
      {"narrow frame, client three levels down", 1, 3, true},
      {"no WM_STATE anywhere: the top-level itself", 40, 2, false},
  };
  std::vector<std::pair<::Window, ::Window>> expected;  // top-level, client
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const ::Window frame = client.make(10 + 30 * static_cast<int>(i), 300, 120, 120);
    decorate(frame, cases[i].decorations);
    ::Window inner = frame;
    for (int level = 0; level < cases[i].depth; ++level) inner = child(inner);
    if (cases[i].marked) markClient(inner);
    expected.push_back({frame, cases[i].marked ? inner : frame});
  }
  XSync(display, False);

  const Content content = query();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const Window* listed = find(content, expected[i].second);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->frame, (Rect{10.0 + 30 * static_cast<double>(i), 300, 120, 120}));
  }
}

TEST(BackendX11Capture, WindowAloneWithItsBorderEvenWhereCoveredAtTheAskedSize) {
  TestClient client;
  const ::Window red = client.make(300, 300, 100, 50, kRed, 1, false, true, kBlue);
  client.make(250, 280, 300, 150, kGreen);  // covers the red one wholly
  // Twice the frame, border included: red inside a band of two blue pixels.
  const auto picture = x11::captureWindow(red, {204, 104});
  ASSERT_TRUE(picture) << picture.error().description;
  ASSERT_EQ(picture->width, 204u);
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < 104; ++y)
    for (std::uint32_t x = 0; x < 204; ++x) {
      const bool band = x < 2 || y < 2 || x >= 202 || y >= 102;
      wrong += pixelAt(*picture, x, y) != (band ? kBlue : kRed);
    }
  EXPECT_EQ(wrong, 0u);
  for (const PixelSize size : {PixelSize{333, 77}, PixelSize{2, 2}}) {
    const auto scaled = x11::captureWindow(red, size);
    ASSERT_TRUE(scaled) << scaled.error().description;
    EXPECT_EQ((PixelSize{scaled->width, scaled->height}), size);
  }
}

TEST(BackendX11Capture, DisplayShowsWhatIsOnTopAndBlackBeyondTheScreen) {
  TestClient client;
  client.make(300, 300, 100, 50, kRed);
  client.make(250, 280, 300, 150, kGreen);
  client.make(1880, 1040, 40, 40, kBlue);  // the screen's bottom right corner
  client.make(0, 0, 60, 60, kRed);          // its top left corner
  const auto whole = x11::captureDisplay({0, 0, 1920, 1080}, {3840, 2160});
  ASSERT_TRUE(whole) << whole.error().description;
  ASSERT_EQ(whole->width, 3840u);
  EXPECT_EQ(pixelAt(*whole, 2 * 320, 2 * 310), kGreen);
  EXPECT_EQ(pixelAt(*whole, 2 * 320 + 1, 2 * 310 + 1), kGreen);
  EXPECT_EQ(pixelAt(*whole, 3839, 2159), kBlue);

  // A monitor reaching 100 points past the screen's right and bottom edges.
  const auto past = x11::captureDisplay({1820, 980, 200, 200}, {400, 400});
  ASSERT_TRUE(past) << past.error().description;
  EXPECT_EQ(pixelAt(*past, 2 * 80, 2 * 80), kBlue);
  EXPECT_EQ(pixelAt(*past, 399, 399), 0u);
  EXPECT_EQ(pixelAt(*past, 2 * 99 + 1, 10), pixelAt(*whole, 2 * 1919 + 1, 2 * 985));
  // And one reaching 100 points past the top and left edges.
  const auto before = x11::captureDisplay({-100, -100, 200, 200}, {200, 200});
  ASSERT_TRUE(before) << before.error().description;
  EXPECT_EQ(pixelAt(*before, 90, 90), 0u);
  EXPECT_EQ(pixelAt(*before, 150, 150), kRed);
}

TEST(BackendX11Capture, WindowsThatCannotBeCapturedAreErrors) {
  TestClient client;
  const ::Window hidden = client.make(10, 10, 100, 100, kRed, 0, false, false);
  const ::Window gone = client.make(10, 10, 100, 100, kRed);
  XDestroyWindow(client.get(), gone);
  XSync(client.get(), False);
  for (const ::Window id : {hidden, gone, ::Window{0}, ::Window{0x7fffffff}}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(x11::captureWindow(static_cast<std::uint32_t>(id), {20, 20}));
  }
  for (const PixelSize size : {PixelSize{0, 10}, {10, -1}, {1 << 20, 10}})
    EXPECT_FALSE(x11::captureDisplay({0, 0, 1920, 1080}, size));
}

}  // namespace
}  // namespace mirlet::testing
