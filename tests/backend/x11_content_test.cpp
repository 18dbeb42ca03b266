// The X11 capture service against the private Xvfb, with windows this test makes itself, so
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

#include "fakes/fake_capture.hpp"
#include "mirlet/platform/linux/x11/screen_capture.hpp"
#include "mirlet/platform/linux/xcb/shareable_content.hpp"
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
                unsigned border = 0, bool overrideRedirect = false, bool map = true) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = background;
    attributes.override_redirect = overrideRedirect;
    const ::Window window = XCreateWindow(
        display_, DefaultRootWindow(display_), x, y, width, height, border, CopyFromParent,
        InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes);
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

ShareableContent query(bool onScreenOnly) {
  testDisplay();
  auto content = await<ShareableContent>([&](Completion<ShareableContent> done) {
    xcb::getShareableContent(false, onScreenOnly, std::move(done));
  });
  if (!content) throw std::runtime_error(content.error().description);
  return *content;
}

const Window* find(const ShareableContent& content, ::Window id) {
  for (const auto& window : content.windows)
    if (window.windowID == id) return &window;
  return nullptr;
}

constexpr unsigned long kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

Result<Image> capture(const ContentFilter& filter, std::int64_t width, std::int64_t height) {
  StreamConfiguration configuration;
  configuration.width = width;
  configuration.height = height;
  return await<Image>([&](Completion<Image> done) {
    x11::captureImage(filter, configuration, std::move(done));
  });
}

ContentFilter windowAlone(::Window id) {
  return ContentFilter::desktopIndependentWindow(makeWindow(static_cast<std::uint32_t>(id), {}));
}
ContentFilter wholeDisplay(Rect frame) {
  return ContentFilter::displayExcludingWindows(makeDisplay(0, frame), {});
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

TEST(BackendX11Content, TitlesInEveryEncodingAndApplicationNames) {
  TestClient client;
  struct Case {
    std::vector<std::pair<const char*, std::pair<const char*, std::string>>> properties;
    long pid;
    std::optional<std::string> title;
    std::optional<std::string> app;
  };
  const std::string utf8 = "a/b \"q\"\\\n\xc3\xa9\xe2\x9c\x93";
  const std::vector<Case> cases = {
      {{{"_NET_WM_NAME", {"UTF8_STRING", utf8}}, {"WM_NAME", {"STRING", "old"}}}, 0, utf8, {}},
      // Some programs store _NET_WM_NAME as STRING; it is still taken as it is.
      {{{"_NET_WM_NAME", {"STRING", "plain"}}}, 0, "plain", {}},
      {{{"WM_NAME", {"STRING", "caf\xe9"}}}, 0, "caf\xc3\xa9", {}},
      {{{"WM_NAME", {"COMPOUND_TEXT", "caf\xe9"}}}, 0, "caf\xc3\xa9", {}},
      {{{"WM_NAME", {"UTF8_STRING", "\xe2\x9c\x93"}}}, 0, "\xe2\x9c\x93", {}},
      {{{"WM_NAME", {"STRING", ""}}}, 0, "", {}},
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
  const ShareableContent content = query(true);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Window* window = find(content, windows[i]);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title, cases[i].title);
    ASSERT_EQ(window->owningApplication.has_value(), cases[i].app.has_value());
    if (cases[i].app) {
      // /proc gives the command name cut to 15 bytes.
      EXPECT_EQ(window->owningApplication->applicationName, cases[i].app->substr(0, 15));
    }
  }
}

TEST(BackendX11Content, WhichTopLevelsAreListedFrontToBackWithOuterFrames) {
  TestClient client;
  const ::Window bottom = client.make(-40, -30, 300, 200, 0, 5);
  const ::Window hidden = client.make(50, 50, 100, 100, 0, 0, false, false);
  const ::Window popup = client.make(60, 60, 100, 100, 0, 0, true);
  const ::Window input = client.makeInputOnly(70, 70);
  const ::Window top = client.make(100, 120, 80, 80);

  const ShareableContent onScreen = query(true);
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
  const ShareableContent raised = query(true);
  EXPECT_EQ(raised.windows.front().windowID, bottom);

  const ShareableContent all = query(false);
  EXPECT_NE(find(all, hidden), nullptr);
  EXPECT_EQ(find(all, popup), nullptr);
  EXPECT_EQ(find(all, input), nullptr);
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

  const ShareableContent content = query(true);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const Window* listed = find(content, expected[i].second);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->frame, (Rect{10.0 + 30 * static_cast<double>(i), 300, 120, 120}));
  }
}

TEST(BackendX11Content, OneDisplayForTheWholeScreenWhateverTheFlags) {
  for (bool onScreenOnly : {true, false}) {
    const ShareableContent content = query(onScreenOnly);
    ASSERT_EQ(content.displays.size(), 1u);
    EXPECT_EQ(content.displays[0].frame, (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(content.displays[0].width, 1920);
    EXPECT_EQ(content.displays[0].height, 1080);
  }
}

TEST(BackendX11Content, NoXServerIsAnErrorNotACrash) {
  testDisplay();
  const std::string saved = std::getenv("DISPLAY");
  ::setenv("DISPLAY", ":999", 1);
  auto content = await<ShareableContent>(
      [](Completion<ShareableContent> done) { xcb::getShareableContent(false, true, done); });
  auto picture = await<Image>([](Completion<Image> done) {
    StreamConfiguration configuration;
    configuration.width = configuration.height = 10;
    x11::captureImage(ContentFilter::desktopIndependentWindow({}), configuration, done);
  });
  ::setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_FALSE(content);
  EXPECT_FALSE(picture);
  EXPECT_TRUE(xcb::displayIsReachable());
}

TEST(BackendX11Capture, WindowAloneEvenWhereCoveredAtTheAskedSize) {
  TestClient client;
  const ::Window red = client.make(300, 300, 100, 50, kRed);
  client.make(250, 280, 300, 150, kGreen);  // covers the red one wholly
  struct Case {
    std::int64_t width, height;
  };
  for (const Case c : {Case{200, 100}, Case{333, 77}, Case{2, 2}}) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    const auto picture =
        capture(windowAlone(red), c.width, c.height);
    ASSERT_TRUE(picture) << picture.error().description;
    EXPECT_EQ(picture->width, c.width);
    EXPECT_EQ(picture->height, c.height);
    EXPECT_EQ(pixelsOtherThan(*picture, kRed), 0u);
  }
}

TEST(BackendX11Capture, DisplayShowsWhatIsOnTopAndBlackBeyondTheScreen) {
  TestClient client;
  client.make(300, 300, 100, 50, kRed);
  client.make(250, 280, 300, 150, kGreen);
  client.make(1880, 1040, 40, 40, kBlue);  // the screen's bottom right corner
  const auto whole =
      capture(wholeDisplay({0, 0, 1920, 1080}), 3840, 2160);
  ASSERT_TRUE(whole) << whole.error().description;
  ASSERT_EQ(whole->width, 3840u);
  EXPECT_EQ(pixelAt(*whole, 2 * 320, 2 * 310), kGreen);
  EXPECT_EQ(pixelAt(*whole, 2 * 320 + 1, 2 * 310 + 1), kGreen);
  EXPECT_EQ(pixelAt(*whole, 3839, 2159), kBlue);

  // A monitor reaching 100 points past the screen's right and bottom edges.
  const auto past =
      capture(wholeDisplay({1820, 980, 200, 200}), 400, 400);
  ASSERT_TRUE(past) << past.error().description;
  EXPECT_EQ(pixelAt(*past, 2 * 80, 2 * 80), kBlue);
  EXPECT_EQ(pixelAt(*past, 399, 399), 0u);
  EXPECT_EQ(pixelAt(*past, 2 * 99 + 1, 10), pixelAt(*whole, 2 * 1919 + 1, 2 * 985));
}

TEST(BackendX11Capture, WindowsThatCannotBeCapturedAreErrors) {
  TestClient client;
  const ::Window hidden = client.make(10, 10, 100, 100, kRed, 0, false, false);
  const ::Window gone = client.make(10, 10, 100, 100, kRed);
  XDestroyWindow(client.get(), gone);
  XSync(client.get(), False);
  for (const ::Window id : {hidden, gone, ::Window{0}, ::Window{0x7fffffff}}) {
    SCOPED_TRACE(id);
    const auto picture = capture(windowAlone(id), 20, 20);
    EXPECT_FALSE(picture);
  }
  for (const auto& size : {std::pair<std::int64_t, std::int64_t>{0, 10}, {10, -1}, {1 << 20, 10}}) {
    const auto picture = capture(
        wholeDisplay({0, 0, 1920, 1080}), size.first,
        size.second);
    EXPECT_FALSE(picture);
  }
}

}  // namespace
}  // namespace mirlet::testing
