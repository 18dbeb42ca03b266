// The screen commands against a scripted screen, and the pure pixel arithmetic behind `shot`.

#include <gtest/gtest.h>

#include "fakes/fake_capture.hpp"
#include "mirlet/screen/shot_geometry.hpp"
#include "mirlet/screen/list_windows.hpp"
#include "mirlet/screen/shot.hpp"

namespace mirlet::testing {
namespace {

Display display(std::uint32_t id, Rect frame) {
  return {id, frame, static_cast<std::int64_t>(frame.width),
          static_cast<std::int64_t>(frame.height)};
}

Image picture(std::uint32_t width, std::uint32_t height) {
  return makeImage(width, height, [](std::uint8_t*, std::size_t) {});
}

// The whole line: brackets, commas and each record's members in order.
TEST(Screen, WindowsOfEightyPointsEachWayInTheirOrder) {
  FakeScreen screen;
  screen.content = Content{{{3, "t/1", "A", {-5.5, 0, 80, 80}},
                            {4, "", "", {0, 0, 79.9, 500}},
                            {5, "\xFF", "", {0, 0, 500, 79.99}},
                            {6, "", "B", {300, 200, -100, -80}}},  // counted from the far corner
                           {}};
  EXPECT_EQ(listWindows(screen),
            "[{\"id\":3,\"app\":\"A\",\"title\":\"t\\/1\",\"x\":-5.5,\"y\":0,\"w\":80,\"h\":80},"
            "{\"id\":6,\"app\":\"B\",\"title\":\"\",\"x\":200,\"y\":120,\"w\":100,\"h\":80}]");
  screen.content = failure("no X");
  EXPECT_EQ(listWindows(screen), failure("no_shareable_content"));
}

// Each way `shot` can go: what it asks of the screen, in order, and how it ends.
TEST(Screen, ShotFallsBackToACropOfTheDisplayHoldingTheMidpoint) {
  const Image window = picture(200, 100);
  const Image whole = picture(400, 300);  // display 2, 200 x 150 points at (100, 0)
  struct Case {
    const char* name;
    std::vector<Result<Image>> pictures;
    std::vector<bool> writes;
    std::vector<Display> displays;
    CommandResult result;
    std::vector<std::string> log;
    Rect frame{190, 40, 100, 50};
  };
  const std::string window7 = "window 7 200x100", display2 = "display 100,0 400x300";
  const std::string written = "write 200x100 at o.png";
  const CommandResult asWindow = "{\"ok\":true,\"mode\":\"window\",\"path\":\"o.png\"}";
  const CommandResult asCrop = "{\"ok\":true,\"mode\":\"display-crop\",\"path\":\"o.png\"}";
  const std::vector<Display> two = {display(1, {0, 0, 100, 100}), display(2, {100, 0, 200, 150})};
  const Case cases[] = {
      {"window written", {window}, {true}, two, asWindow, {window7, written}},
      {"window refused", {failure("gone"), whole}, {true}, two, asCrop,
       {window7, display2, written}},
      {"window unwritable", {window, whole}, {false, true}, two, asCrop,
       {window7, written, display2, written}},
      {"no display", {}, {}, {}, failure("no_display_for_window"), {window7}},
      {"display refused", {}, {}, two, failure("display_capture_failed"), {window7, display2}},
      {"crop unwritable", {window, whole}, {false, false}, two, failure("png_encode_failed"),
       {window7, written, display2, written}},
      {"crop edges off the pixel grid move outward", {failure("gone"), whole}, {true}, two, asCrop,
       {window7, display2, "write 201x101 at o.png"}, {190.25, 40.25, 100, 50}},
      {"off every display: the first one, uncropped", {failure("gone"), picture(200, 200)}, {true},
       two, asCrop, {window7, "display 0,0 200x200", "write 200x200 at o.png"},
       {5000, 5000, 100, 50}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeScreen screen;
    // Mostly 100 x 50 points at (190, 40): its midpoint (240, 65) lies on display 2.
    screen.content = Content{{{7, "", "", c.frame}}, c.displays};
    screen.pictures.assign(c.pictures.begin(), c.pictures.end());
    screen.writes.assign(c.writes.begin(), c.writes.end());
    std::string notes;
    EXPECT_EQ(shot(screen, [&](std::string_view text) { notes += text; }, 7, "o.png"), c.result);
    EXPECT_EQ(screen.log, c.log);
    EXPECT_EQ(notes, c.log.size() > 2 || !c.result ? "window capture failed, trying display-crop\n"
                                                   : "");
  }
}

TEST(Screen, TheMidpointPicksTheDisplayLeftAndTopEdgesInside) {
  const std::vector<Display> displays = {display(1, {0, 0, 100, 100}),
                                         display(2, {100, 0, 100, 100}),
                                         display(3, {0, 500, 100, 100})};
  // 20 x 20 windows: the midpoint is the origin + 10.
  const std::pair<Rect, std::uint32_t> cases[] = {
      {{40, 40, 20, 20}, 1},   {{90, 40, 20, 20}, 2},   {{-10, 40, 20, 20}, 1},
      {{40, 490, 20, 20}, 3},  {{40, 590, 20, 20}, 1},  {{190, 40, 20, 20}, 1},
      {{189, 40, 20, 20}, 2},  {{40, 90, 20, 20}, 1}};
  for (const auto& [window, id] : cases)
    EXPECT_EQ(displayForWindow(displays, window)->displayID, id) << window.x << "," << window.y;
  EXPECT_FALSE(displayForWindow({}, {0, 0, 10, 10}));
}

}  // namespace
}  // namespace mirlet::testing
