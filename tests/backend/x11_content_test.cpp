// The X11 listing and pictures against the private Xvfb, with windows this test makes itself, so
// every property can be set exactly as odd programs set them, and the server paints them itself.

// Google Test first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "mirlet/platform/linux/loadable/loaded_screen.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

// A connection of the test's own; its windows go when it closes.
class TestClient {
 public:
  TestClient() : display_((testDisplay(), XOpenDisplay(nullptr))) {
    if (display_ == nullptr) throw std::runtime_error("no test display");
  }
  ~TestClient() { XCloseDisplay(display_); }
  ::Display* get() const { return display_; }

  ::Window make(int x, int y, unsigned width, unsigned height, unsigned long background = 0,
                unsigned border = 0, bool overrideRedirect = false, bool map = true,
                ::Window parent = 0, unsigned kind = InputOutput) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = background;
    attributes.override_redirect = overrideRedirect;
    const ::Window window = XCreateWindow(
        display_, parent ? parent : DefaultRootWindow(display_), x, y, width, height, border,
        kind == InputOutput ? CopyFromParent : 0, kind, CopyFromParent,
        (kind == InputOutput ? CWBackPixel : 0) | CWOverrideRedirect, &attributes);
    if (map) XMapWindow(display_, window);
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
  void set(::Window window, const char* name, Atom type, std::vector<long> values) {
    XChangeProperty(display_, window, XInternAtom(display_, name, False), type, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(values.data()),
                    static_cast<int>(values.size()));
    XSync(display_, False);
  }

 private:
  ::Display* display_;
};

// The backend through its entry points, as the executable sees it once the modules are loaded.
const auto screen = loadable::makeScreenCapture(&mirlet_x11_entry, &mirlet_x11_pictures_entry);

Content query() {
  testDisplay();
  auto content = screen->listContent();
  if (!content) throw std::runtime_error(content.error());
  return *content;
}

// The window's place in the list, front first; -1 when it is not listed.
long position(const Content& content, ::Window id) {
  const auto at = std::ranges::find(content.windows, id, &Window::windowID);
  return at == content.windows.end() ? -1 : at - content.windows.begin();
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
    std::string title, app;
  };
  const std::string utf8 = "a/b \"q\"\\\n\xc3\xa9\xe2\x9c\x93";
  const Case cases[] = {
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
  for (const Case& c : cases) {
    windows.push_back(client.make(10 + 20 * static_cast<int>(windows.size()), 10, 100, 100));
    for (const auto& [name, value] : c.properties)
      client.set(windows.back(), name, value.first, value.second);
    if (c.pid != 0) client.set(windows.back(), "_NET_WM_PID", XA_CARDINAL, {c.pid});
  }
  const Content content = query();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const long at = position(content, windows[i]);
    ASSERT_GE(at, 0);
    EXPECT_EQ(content.windows[at].title, cases[i].title);
    EXPECT_EQ(content.windows[at].app, cases[i].app.substr(0, 15));  // /proc cuts names to 15 bytes
  }
}

TEST(BackendX11Content, WhichTopLevelsAreListedFrontToBackWithOuterFrames) {
  TestClient client;
  const ::Window bottom = client.make(-40, -30, 300, 200, 0, 5);
  const ::Window hidden = client.make(50, 50, 100, 100, 0, 0, false, false);
  const ::Window popup = client.make(60, 60, 100, 100, 0, 0, true);
  const ::Window input = client.make(70, 70, 200, 200, 0, 0, false, true, 0, InputOnly);
  const ::Window top = client.make(100, 120, 80, 80);

  const Content listed = query();
  for (const ::Window left : {hidden, popup, input}) EXPECT_EQ(position(listed, left), -1);
  ASSERT_GE(position(listed, bottom), 0);
  ASSERT_GE(position(listed, top), 0);
  EXPECT_LT(position(listed, top), position(listed, bottom));  // front first
  // The X border is part of the frame; the origin is its outer corner.
  EXPECT_EQ(listed.windows[position(listed, bottom)].frame, (Rect{-40, -30, 310, 210}));
  EXPECT_EQ(listed.windows[position(listed, top)].frame, (Rect{100, 120, 80, 80}));
  XRaiseWindow(client.get(), bottom);
  XSync(client.get(), False);
  EXPECT_EQ(query().windows.front().windowID, bottom);
}

// A window manager's frames, made by hand: the client is the first window carrying WM_STATE,
// breadth first, however many decoration windows sit beside it and however deep it lies.
TEST(BackendX11Content, ClientsAreFoundBeneathFramesOfAnyWidthAndDepth) {
  TestClient client;
  struct Case {
    int decorations;  // beside the client's branch
    int depth;        // 1: the frame's own child
    bool marked;      // without WM_STATE anywhere, the top-level itself is listed
  };
  const Case cases[] = {{40, 1, true}, {40, 2, true}, {1, 3, true}, {40, 2, false}};
  std::vector<::Window> clients;
  for (const Case& c : cases) {
    const ::Window frame = client.make(10 + 30 * static_cast<int>(clients.size()), 300, 120, 120);
    for (int i = 0; i < c.decorations; ++i) client.make(0, 0, 10, 10, 0, 0, false, true, frame);
    ::Window inner = frame;
    for (int level = 0; level < c.depth; ++level)
      inner = client.make(0, 0, 10, 10, 0, 0, false, true, inner);
    if (c.marked) client.set(inner, "WM_STATE", XInternAtom(client.get(), "WM_STATE", False), {1, 0});
    clients.push_back(c.marked ? inner : frame);
    // Names and the class come from the client, not from the frame around it.
    client.set(frame, "WM_NAME", "STRING", "frame");
    client.set(clients.back(), "WM_NAME", "STRING", "client");
    client.set(clients.back(), "WM_CLASS", "STRING", std::string("c\0Client\0", 9));
  }
  const Content content = query();
  for (std::size_t i = 0; i < clients.size(); ++i) {
    SCOPED_TRACE(i);
    const long at = position(content, clients[i]);
    ASSERT_GE(at, 0);
    EXPECT_EQ(content.windows[at].frame, (Rect{10.0 + 30 * static_cast<double>(i), 300, 120, 120}));
    EXPECT_EQ(content.windows[at].title, "client");
    EXPECT_EQ(content.windows[at].app, "Client");
  }
}

TEST(BackendX11Capture, DisplayShowsWhatIsOnTopAndBlackBeyondTheScreen) {
  TestClient client;
  client.make(300, 300, 100, 50, kRed);
  client.make(250, 280, 300, 150, kGreen);
  client.make(1880, 1040, 40, 40, kBlue);  // the screen's bottom right corner
  client.make(0, 0, 60, 60, kRed);          // its top left corner
  const auto whole = screen->captureDisplay({0, 0, 1920, 1080}, {3840, 2160});
  ASSERT_TRUE(whole) << whole.error();
  ASSERT_EQ(whole->width, 3840u);
  EXPECT_EQ(pixelAt(*whole, 2 * 320, 2 * 310), kGreen);
  EXPECT_EQ(pixelAt(*whole, 2 * 320 + 1, 2 * 310 + 1), kGreen);
  EXPECT_EQ(pixelAt(*whole, 3839, 2159), kBlue);

  // A monitor reaching 100 points past the screen's right and bottom edges.
  const auto past = screen->captureDisplay({1820, 980, 200, 200}, {400, 400});
  ASSERT_TRUE(past) << past.error();
  EXPECT_EQ(pixelAt(*past, 2 * 80, 2 * 80), kBlue);
  EXPECT_EQ(pixelAt(*past, 399, 399), 0u);
  EXPECT_EQ(pixelAt(*past, 2 * 99 + 1, 10), pixelAt(*whole, 2 * 1919 + 1, 2 * 985));
  // And one reaching 100 points past the top and left edges.
  const auto before = screen->captureDisplay({-100, -100, 200, 200}, {200, 200});
  ASSERT_TRUE(before) << before.error();
  EXPECT_EQ(pixelAt(*before, 90, 90), 0u);
  EXPECT_EQ(pixelAt(*before, 150, 150), kRed);
}

TEST(BackendX11Capture, WindowsThatCannotBeCapturedAreErrors) {
  TestClient client;
  const ::Window hidden = client.make(10, 10, 100, 100, kRed, 0, false, false);
  const ::Window gone = client.make(10, 10, 100, 100, kRed);
  XDestroyWindow(client.get(), gone);
  XSync(client.get(), False);
  for (const ::Window id : {hidden, gone, ::Window{0}, ::Window{0x7fffffff}})
    EXPECT_FALSE(screen->captureWindow(static_cast<std::uint32_t>(id), {20, 20})) << id;
  for (const PixelSize size : {PixelSize{0, 10}, {10, -1}, {1 << 20, 10}})
    EXPECT_FALSE(screen->captureDisplay({0, 0, 1920, 1080}, size));
}

}  // namespace
}  // namespace mirlet::testing
