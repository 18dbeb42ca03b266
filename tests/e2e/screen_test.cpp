// `windows` and `shot` as real processes against real X clients: the list, the pictures, the
// fallback and the failures.

#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/desktop.hpp"

namespace mirlet::testing {
namespace {

constexpr std::uint32_t kYellow = 0xFFFF00, kRed = 0xFF0000, kBlue = 0x0000FF, kBlack = 0;
const std::string kNote = "window capture failed, trying display-crop\n";

std::string okLine(const std::string& mode, const std::string& pathBody) {
  return "{\"ok\":true,\"mode\":\"" + mode + "\",\"path\":\"" + pathBody + "\"}\n";
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string record(const DesktopWindow& window, const std::string& title, const std::string& app) {
  const Rect& f = window.frame;
  return "{\"id\":" + window.id + ",\"app\":\"" + app + "\",\"title\":\"" + title +
         "\",\"x\":" + number(f.x) + ",\"y\":" + number(f.y) + ",\"w\":" + number(f.width) +
         ",\"h\":" + number(f.height) + "}";
}

// Front to back: floating windows above tiled ones (on X, the stacking order: the later above).
// A desktop entry names a native window's application.
TEST(E2EScreen, ListsClientsEightyPointsAndUpFrontToBackEscaped) {
  testDisplay();
  TempDir data;
  ASSERT_EQ(run({"mkdir", data / "applications"}).status, 0);
  writeFile(data / "applications/mirlet.named.desktop",
            "[Desktop Entry]\nType=Application\nName=Named \"App\"\n[Desktop Action x]\nName=No\n");
  DesktopWindow tiled = openWindow({.title = "tiled", .frame = {0, 0, 400, 300}, .tiled = true});
  DesktopWindow hidden = openWindow({.title = "hidden", .frame = {0, 0, 300, 300}, .hidden = true});
  const std::string title = "a/b \"q\" \\ \nz \xc3\xa9\xe2\x9c\x93";
  DesktopWindow term = openWindow({.title = title, .frame = {-20, -15, 320, 160},
                                   .appId = "mirlet.named"});
  DesktopWindow logo = openWindow({.title = "plain logo", .frame = {100, 100, 300, 200},
                                   .x11 = true});
  std::vector<DesktopWindow> edges;
  for (const Rect frame : {Rect{10, 10, 80, 80}, Rect{10, 10, 79, 200}, Rect{10, 10, 200, 79}})
    edges.push_back(openWindow({.title = "edge " + std::to_string(edges.size()), .frame = frame}));
  const RunResult result = runMirlet({"windows"}, {{"XDG_DATA_HOME", data.path()}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  ASSERT_EQ(result.out.find('\n'), result.out.size() - 1) << "one line";
  // GNOME names applications from the desktop entries it knows itself.
  const bool entries = testDesktop() == DesktopKind::sway || testDesktop() == DesktopKind::kde;
  const std::string named = entries ? "Named \\\"App\\\"" : term.app;
  // KWin shows titles with their white space simplified.
  const std::string lines = testDesktop() == DesktopKind::kde ? " " : " \\n";
  EXPECT_EQ(recordOf(result.out, term.id),
            record(term, "a\\/b \\\"q\\\" \\\\" + lines + "z \xc3\xa9\xe2\x9c\x93", named));
  EXPECT_EQ(recordOf(result.out, logo.id), record(logo, "plain logo", logo.app));
  EXPECT_EQ(recordOf(result.out, tiled.id), record(tiled, "tiled", tiled.app));
  const auto at = [&](const DesktopWindow& w) { return result.out.find("{\"id\":" + w.id + ","); };
  EXPECT_LT(at(logo), at(term));
  EXPECT_LT(at(term), at(tiled));
  EXPECT_NE(recordOf(result.out, edges[0].id), "");
  for (const char* absent : {"edge 1", "edge 2", "hidden"})
    EXPECT_EQ(result.out.find("\"title\":\"" + std::string(absent) + "\""), std::string::npos)
        << absent;
}

// On a 16-bit display, like many VNC desktops, a covered window: it comes out alone at twice its
// size, its colours where they are, and its X border (Xt's default width of 1) on every side.
// Without shared memory, as from another machine, the pixels come over the socket.
TEST(E2EScreen, ACoveredBorderedWindowOnASixteenBitDisplay) {
  if (testDesktop() != DesktopKind::xvfb) GTEST_SKIP() << "an X server of its own";
  PrivateX x({"-screen", "0", "640x480x16", "+extension", "Composite", "-extension", "MIT-SHM"});
  XClient logo = startClient({"xlogo", "-bw", "1", "-bd", "blue", "-bg", "red", "-fg", "black",
                              "-geometry", "100x80+30+40", "-title", "sixteen"},
                             "sixteen", x.env());
  XClient cover = startClient(
      {"xlogo", "-bg", "yellow", "-geometry", "300x300+0+0", "-title", "cover"}, "cover", x.env());
  TempDir dir;
  const std::string odd = dir / "q\"uo\\te.png";
  const RunResult result = runMirlet({"shot", logo.id, odd}, x.env());
  EXPECT_EQ(result.err, "");
  ASSERT_EQ(result.out, okLine("window", dir.path() + "/q\\\"uo\\\\te.png"));
  const auto png = decodePng(odd);
  ASSERT_TRUE(png);
  ASSERT_EQ(png->width, 204u);
  ASSERT_EQ(png->height, 164u);
  // A band of two blue pixels all round, red inside it where the logo leaves room.
  EXPECT_EQ(png->count(kBlue), 204u * 164u - 200u * 160u);
  for (const auto& [x0, y0] : {std::pair{0u, 0u}, {203u, 163u}, {1u, 162u}, {202u, 1u}})
    EXPECT_EQ(png->at(x0, y0), kBlue) << x0 << "," << y0;
  EXPECT_EQ(png->at(3, 3), kRed);
  EXPECT_EQ(png->count(kRed) + png->count(kBlack), 200u * 160u);
  EXPECT_GT(png->count(kBlack), 500u);  // the logo was drawn, not just the background
}

// The last rows run where mirlet may not see the screen.
TEST(E2EScreen, FailuresAfterAndBeforeTheNote) {
  testDisplay();
  DesktopWindow small = openWindow({.title = "small", .frame = {20, 620, 80, 80}});
  DesktopWindow hidden = openWindow({.title = "hidden", .frame = {20, 20, 200, 200}, .hidden = true});
  TempDir dir;
  const std::tuple<std::vector<std::string>, EnvChanges, bool, std::string> cases[] = {
      {{"shot", small.id, dir / "missing/x.png"}, {}, false, kNote + "png_encode_failed\n"},
      {{"shot", "4000000000", dir / "u.png"}, {}, false, "window_not_found\n"},
      {{"shot", hidden.id, dir / "h.png"}, {}, false, "window_not_found\n"},
      {{"shot", "1", dir / "x.png"}, noDisplayEnv(), false, "no_shareable_content\n"},
      {{"windows"}, {}, true, "no_shareable_content\n"},
      {{"shot", small.id, dir / "x.png"}, {}, true, "no_shareable_content\n"},
  };
  std::optional<Unseeing> unseeing;
  for (auto [args, env, unseen, reason] : cases) {
    SCOPED_TRACE(args[0]);
    if (unseen && !unseeing) unseeing.emplace();
    if (unseen) env.insert(env.end(), unseeing->env.begin(), unseeing->env.end());
    const RunResult failed = runMirlet(args, env);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, reason);
    if (args.size() == 3) {
      EXPECT_FALSE(fileExists(args[2]));
    }
  }
}

// GNOME's extension and KWin's pictures answer mirlet alone: the same program copied elsewhere
// (with its modules beside it) sees nothing, and GNOME's extension refuses a plain D-Bus call.
TEST(E2EScreen, OnlyMirletIsAnswered) {
  if (testDesktop() != DesktopKind::gnome && testDesktop() != DesktopKind::kde)
    GTEST_SKIP() << "any program may see the screen here";
  DesktopWindow window = openWindow({.title = "asked", .frame = {0, 0, 200, 200}});
  TempDir dir;
  const std::string folder = std::filesystem::path(mirletBinary()).parent_path();
  ASSERT_EQ(run({"sh", "-c", "cp \"$0\" \"$1\" && ln -s \"$2\"/mirlet-*.so \"$1\"", mirletBinary(),
                 dir.path(), folder}).status, 0);
  const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
      {{dir / "mirlet", "check"}, "{\"screen\":false}\n", ""},
      {{dir / "mirlet", "windows"}, "", "no_shareable_content\n"},
      {{dir / "mirlet", "shot", window.id, dir / "x.png"}, "", "no_shareable_content\n"},
  };
  for (const auto& [argv, out, err] : cases) {
    SCOPED_TRACE(argv[1]);
    const RunResult result = runOnDesktop(argv);
    EXPECT_EQ(std::tuple(result.out, result.err), std::tuple(out, err));
  }
  if (testDesktop() != DesktopKind::gnome) return;
  const RunResult asked = runOnDesktop({"gdbus", "call", "--session", "-d", "dev.mirlet.Shell", "-o",
                                        "/dev/mirlet/Shell", "-m", "dev.mirlet.Shell1.GetWindows"});
  EXPECT_EQ(asked.out, "");
  EXPECT_NE(asked.err.find("dev.mirlet.Error.NotAllowed"), std::string::npos) << asked.err;
}

// Without Composite the window alone cannot be had, so the display-crop fallback runs; two
// monitors side by side show which display it picks. No shared memory either.
TEST(E2EScreen, FallbackCropsFromTheMonitorHoldingTheMidpoint) {
  if (testDesktop() != DesktopKind::xvfb) GTEST_SKIP() << "an X server of its own";
  PrivateX x({"-screen", "0", "2000x600x24", "-extension", "Composite", "+extension", "RANDR",
              "-extension", "MIT-SHM"});
  for (const auto& monitor : {std::vector<std::string>{"left", "1000/260x600/160+0+0", "screen"},
                              std::vector<std::string>{"right", "1000/260x600/160+1000+0", "none"}}) {
    const RunResult set = run({"xrandr", "--setmonitor", monitor[0], monitor[1], monitor[2]},
                              x.env());
    ASSERT_EQ(set.status, 0) << set.err;
  }
  // Straddles both monitors, its midpoint (1050, 150) on the right one: the crop is cut at x 1000.
  XClient wide = startClient(
      {"xlogo", "-bw", "0", "-bg", "yellow", "-geometry", "300x100+900+100", "-title", "wide"},
      "wide", x.env());
  XClient inside = startClient(
      {"xlogo", "-bw", "0", "-bg", "yellow", "-geometry", "120x90+1500+300", "-title", "inside"},
      "inside", x.env());

  TempDir dir;
  const std::tuple<const XClient*, std::uint32_t, std::uint32_t> cases[] = {
      {&wide, 2 * 200, 2 * 100}, {&inside, 2 * 120, 2 * 90}};
  for (const auto& [client, width, height] : cases) {
    SCOPED_TRACE(client->id);
    const RunResult result = runMirlet({"shot", client->id, dir / "c.png"}, x.env());
    EXPECT_EQ(result.err, kNote);
    EXPECT_EQ(result.out, okLine("display-crop", dir / "c.png"));
    const auto png = decodePng(dir / "c.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, width);
    EXPECT_EQ(png->height, height);
    // Only the logo's own pixels: nothing from the black root around it.
    EXPECT_EQ(png->count(kYellow) + png->count(kBlack), std::size_t{width} * height);
    EXPECT_GT(png->count(kYellow), std::size_t{width} * height / 2);
  }
}

}  // namespace
}  // namespace mirlet::testing

namespace mirlet::testing {
namespace {

struct PictureCase {
  std::string name;
  std::vector<WindowWanted> windows;  // the last is shot, unless `shot` says otherwise
  std::size_t shot;
  // GNOME's and KDE's one output shows no case that needs two ("": left out there).
  std::string xMode, swayMode, shellMode;
  std::pair<std::uint32_t, std::uint32_t> xSize, swaySize;  // pixels; GNOME's and KDE's as X's
  // Points on screen and the colour the picture shows there on X and on sway.
  std::vector<std::tuple<double, double, std::uint32_t, std::uint32_t>> colours;
};

// The picture of a window on each desktop: on X the window alone (Composite), on GNOME and KDE
// too (the desktop paints it by itself), on sway what shows in its place (screencopy), at twice
// its size in points; at scale 2 that is the output's own pixels. Where sway cannot give the
// window alone it is the crop, with the note. GNOME and KDE centre both covered windows, so the
// one below is wholly covered there.
TEST(E2EScreen, WindowPicturesOnEachDesktop) {
  constexpr std::uint32_t kGreen = 0x00FF00;
  const std::vector<PictureCase> cases = {
      {"an uncovered tiled window",
       {{.title = "tiled", .colour = kRed, .frame = {0, 0, 400, 300}, .tiled = true}}, 0,
       "window", "window", "window", {800, 600}, {2560, 1440}, {}},
      {"an uncovered floating window on the scale-2 output",
       {{.title = "sharp", .colour = kBlue, .frame = {1450, 100, 300, 200}}}, 0,
       "window", "window", "", {600, 400}, {600, 400}, {}},
      {"a covered floating window",
       {{.title = "under", .colour = kGreen, .frame = {1300, 20, 300, 200}},
        {.title = "over", .colour = kBlue, .frame = {1450, 100, 300, 200}}}, 0,
       "window", "display-crop", "window", {600, 400}, {600, 400},
       {{1350, 150, kGreen, kGreen}, {1500, 150, kGreen, kBlue}}},
      {"a covered floating X window",
       {{.title = "x under", .colour = kGreen, .frame = {1300, 20, 300, 200}, .x11 = true},
        {.title = "x over", .colour = kBlue, .frame = {1450, 100, 300, 200}}}, 0,
       "window", "display-crop", "window", {600, 400}, {600, 400},
       {{1350, 150, kGreen, kGreen}, {1500, 150, kGreen, kBlue}}},
      {"a window across two outputs, its midpoint on the second",
       {{.title = "across", .colour = kYellow, .frame = {1130, 100, 300, 100}}}, 0,
       "window", "display-crop", "", {600, 200}, {300, 200}, {{1350, 150, kYellow, kYellow}}},
  };
  testDisplay();
  TempDir dir;
  for (const PictureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const bool sway = testDesktop() == DesktopKind::sway;
    const bool shell = testDesktop() == DesktopKind::gnome || testDesktop() == DesktopKind::kde;
    const std::string mode = sway ? c.swayMode : shell ? c.shellMode : c.xMode;
    if (mode.empty()) continue;
    const auto size = sway ? c.swaySize : c.xSize;
    clearDesktop();
    std::vector<DesktopWindow> windows;
    for (const WindowWanted& wanted : c.windows) windows.push_back(openWindow(wanted));
    const DesktopWindow& shot = windows[c.shot];

    const RunResult result = runMirlet({"shot", shot.id, dir / "w.png"});
    EXPECT_EQ(result.err, mode == "window" ? "" : kNote);
    EXPECT_EQ(result.out, okLine(mode, dir / "w.png"));
    const auto png = decodePng(dir / "w.png");
    ASSERT_TRUE(png);
    ASSERT_EQ(std::pair(png->width, png->height), size);
    const Rect& frame = shot.frame;
    if (mode == "window") {
      // The client's own area is its colour throughout.
      const Rect& in = shot.content;
      for (std::uint32_t y = 2 * (in.y - frame.y); y < 2 * (in.y - frame.y + in.height); ++y)
        for (std::uint32_t x = 2 * (in.x - frame.x); x < 2 * (in.x - frame.x + in.width); ++x)
          ASSERT_EQ(png->at(x, y), shot.colour) << x << "," << y;
    }
    if (shell) continue;
    // Where the picture starts on screen: the frame, or the part of it on its output.
    const double left = mode == "window" ? frame.x : std::max(frame.x, 1280.0);
    for (const auto& [x, y, onX, onSway] : c.colours)
      EXPECT_EQ(png->at(2 * (x - left), 2 * (y - frame.y)), sway ? onSway : onX) << x << "," << y;
    if (!sway || mode != "window") continue;
    // The same pixels as grim's picture of that place: doubled at scale 1, as they are at scale 2.
    char region[64];
    std::snprintf(region, sizeof region, "%g,%g %gx%g", frame.x, frame.y, frame.width, frame.height);
    ASSERT_EQ(run({"grim", "-g", region, dir / "grim.png"}).status, 0);
    const auto peer = decodePng(dir / "grim.png");
    ASSERT_TRUE(peer);
    std::size_t differing = 0;
    for (std::uint32_t y = 0; y < png->height; ++y)
      for (std::uint32_t x = 0; x < png->width; ++x)
        differing += png->at(x, y) !=
                     peer->at(x * peer->width / png->width, y * peer->height / png->height);
    EXPECT_EQ(differing, 0u);
  }
}

}  // namespace
}  // namespace mirlet::testing
