// `shot` as a real process against real X clients: the picture, the fallback and the failures.

#include <gtest/gtest.h>

#include <tuple>

#include "e2e/screen_support.hpp"

namespace mirlet::testing {
namespace {

constexpr std::uint32_t kYellow = 0xFFFF00, kRed = 0xFF0000, kBlack = 0;
const std::string kNote = "window capture failed, trying display-crop\n";

std::string okLine(const std::string& mode, const std::string& pathBody) {
  return "{\"ok\":true,\"mode\":\"" + mode + "\",\"path\":\"" + pathBody + "\"}\n";
}

TEST(E2EScreenShot, ACoveredWindowComesOutAloneAtTwiceItsSize) {
  testDisplay();
  XClient logo = startClient({"xlogo", "-bw", "0", "-bg", "yellow", "-fg", "black", "-geometry",
                              "200x150+300+300", "-title", "covered"},
                             "covered");
  XClient cover = startClient(
      {"xterm", "-bw", "0", "-bg", "red", "-geometry", "80x30+250+250", "-T", "cover"}, "cover");
  TempDir dir;
  const RunResult result = runMirlet({"shot", logo.id, dir / "w.png"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, okLine("window", dir / "w.png"));
  const auto png = decodePng(dir / "w.png");
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 400u);
  EXPECT_EQ(png->height, 300u);
  EXPECT_EQ(png->count(kRed), 0u);
  EXPECT_EQ(png->count(kYellow) + png->count(kBlack), 400u * 300u);
  EXPECT_GT(png->count(kBlack), 1000u);  // the logo was drawn, not just the background
  EXPECT_EQ(png->at(0, 0), kYellow);
}

TEST(E2EScreenShot, SmallWindowsOddPathsAndFailures) {
  testDisplay();
  XClient small = startClient({"xlogo", "-bw", "0", "-bg", "yellow", "-geometry",
                               "50x30+20+700", "-title", "small"},
                              "small");
  TempDir dir;
  const std::string odd = dir / "q\"uo\\te.png";
  const RunResult result = runMirlet({"shot", small.id, odd});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, okLine("window", dir.path() + "/q\\\"uo\\\\te.png"));
  const auto png = decodePng(odd);
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 100u);
  EXPECT_EQ(png->height, 60u);

  // A missing folder fails after the note; an unknown id before anything is written.
  for (const auto& [id, path, reason] :
       {std::tuple{small.id, dir / "missing/x.png", kNote + "png_encode_failed\n"},
        std::tuple{std::string("4000000000"), dir / "u.png", std::string("window_not_found\n")}}) {
    const RunResult failed = runMirlet({"shot", id, path});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, reason);
    EXPECT_FALSE(fileExists(path));
  }
}

// Without Composite the window alone cannot be had, so the display-crop fallback runs; two
// monitors side by side show which display it picks.
TEST(E2EScreenShot, FallbackCropsFromTheMonitorHoldingTheMidpoint) {
  PrivateX x({"-screen", "0", "2000x600x24", "-extension", "Composite", "+extension", "RANDR"});
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
  struct Case {
    const XClient* client;
    std::uint32_t width, height;
  };
  for (const Case& c : {Case{&wide, 2 * 200, 2 * 100}, Case{&inside, 2 * 120, 2 * 90}}) {
    SCOPED_TRACE(c.client->id);
    const RunResult result = runMirlet({"shot", c.client->id, dir / "c.png"}, x.env());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, kNote);
    EXPECT_EQ(result.out, okLine("display-crop", dir / "c.png"));
    const auto png = decodePng(dir / "c.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, c.width);
    EXPECT_EQ(png->height, c.height);
    // Only the logo's own pixels: nothing from the black root around it.
    EXPECT_EQ(png->count(kYellow) + png->count(kBlack), std::size_t{c.width} * c.height);
    EXPECT_GT(png->count(kYellow), std::size_t{c.width} * c.height / 2);
  }
}

}  // namespace
}  // namespace mirlet::testing
