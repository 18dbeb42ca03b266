// `windows` and `shot` as real processes against real X clients: the list, the pictures, the
// fallback and the failures.

#include <gtest/gtest.h>

#include "e2e/screen_support.hpp"

namespace mirlet::testing {
namespace {

constexpr std::uint32_t kYellow = 0xFFFF00, kRed = 0xFF0000, kBlue = 0x0000FF, kBlack = 0;
const std::string kNote = "window capture failed, trying display-crop\n";

std::string okLine(const std::string& mode, const std::string& pathBody) {
  return "{\"ok\":true,\"mode\":\"" + mode + "\",\"path\":\"" + pathBody + "\"}\n";
}

TEST(E2EScreen, ListsClientsEightyPointsAndUpFrontToBackEscaped) {
  testDisplay();
  const std::string title = "a/b \"q\" \\ \nz \xc3\xa9\xe2\x9c\x93";
  XClient term = startClient({"xterm", "-bw", "0", "-T", title, "-geometry", "40x10+-20+-15"},
                             "a/b.*");
  XClient logo = startClient(
      {"xlogo", "-bw", "0", "-geometry", "300x200+100+100", "-title", "plain logo"}, "plain logo");
  std::vector<XClient> edges;
  for (const char* geometry : {"80x80+10+10", "79x200+10+10", "200x79+10+10"}) {
    const std::string name = "edge " + std::to_string(edges.size());
    edges.push_back(startClient({"xlogo", "-bw", "0", "-geometry", geometry, "-title", name}, name));
  }
  const RunResult result = runMirlet({"windows"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  ASSERT_EQ(result.out.find('\n'), result.out.size() - 1) << "one line";
  EXPECT_EQ(recordOf(result.out, term.id).rfind(
                "{\"id\":" + term.id +
                    ",\"app\":\"XTerm\",\"title\":\"a\\/b \\\"q\\\" \\\\ \\nz \xc3\xa9\xe2\x9c\x93\","
                    "\"x\":-20,\"y\":-15,\"w\":",
                0),
            0u)
      << result.out;
  EXPECT_EQ(recordOf(result.out, logo.id),
            "{\"id\":" + logo.id +
                ",\"app\":\"XLogo\",\"title\":\"plain logo\",\"x\":100,\"y\":100,\"w\":300,\"h\":200}");
  EXPECT_LT(result.out.find("\"id\":" + logo.id + ","), result.out.find("\"id\":" + term.id + ","));
  EXPECT_NE(recordOf(result.out, edges[0].id), "");
  EXPECT_EQ(recordOf(result.out, edges[1].id) + recordOf(result.out, edges[2].id), "");
}

// On a 16-bit display, like many VNC desktops, a covered window: it comes out alone at twice its
// size, its colours where they are, and its X border (Xt's default width of 1) on every side.
// Without shared memory, as from another machine, the pixels come over the socket.
TEST(E2EScreen, ACoveredBorderedWindowOnASixteenBitDisplay) {
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

TEST(E2EScreen, FailuresAfterAndBeforeTheNote) {
  testDisplay();
  XClient small = startClient(
      {"xlogo", "-bw", "0", "-geometry", "50x30+20+700", "-title", "small"}, "small");
  TempDir dir;
  const std::tuple<std::vector<std::string>, EnvChanges, std::string> cases[] = {
      {{"shot", small.id, dir / "missing/x.png"}, {}, kNote + "png_encode_failed\n"},
      {{"shot", "4000000000", dir / "u.png"}, {}, "window_not_found\n"},
      {{"windows"}, {{"DISPLAY", ":999"}}, "no_shareable_content\n"},
      {{"shot", "1", dir / "x.png"}, {{"DISPLAY", std::nullopt}}, "no_shareable_content\n"},
  };
  for (const auto& [args, env, reason] : cases) {
    SCOPED_TRACE(args[0]);
    const RunResult failed = runMirlet(args, env);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, reason);
    if (args.size() == 3) {
      EXPECT_FALSE(fileExists(args[2]));
    }
  }
}

// Without Composite the window alone cannot be had, so the display-crop fallback runs; two
// monitors side by side show which display it picks. No shared memory either.
TEST(E2EScreen, FallbackCropsFromTheMonitorHoldingTheMidpoint) {
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
