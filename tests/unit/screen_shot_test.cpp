// `shot` against a scripted capture service: every transition of the command, what it asks the
// service for, and what the caller sees.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.hpp"
#include "fakes/recording_output.hpp"
#include "mirlet/screen/shot.hpp"

namespace mirlet::testing {
namespace {

constexpr const char* kNote = "window capture failed, trying display-crop\n";

struct Rig {
  FakePlatform fakes;
  ScriptedCaptureService& capture = fakes.defaultCaptureService;
  ScriptedImageOutput& images = fakes.defaultImageOutput;
  RecordingOutput out;
  Platform platform = fakes.platform();

  int run(std::uint32_t id, const std::string& path = "out.png") {
    return endStatus([&] { shot(platform, out, id, path); });
  }
};

ShareableContent desktop() {
  ShareableContent content;
  content.windows = {makeWindow(7, {10, 10, 300, 200}), makeWindow(42, {110, 60, 300, 200}),
                     makeWindow(42, {0, 0, 999, 999}), makeWindow(9, {2000, 100, 100.7, 50.2}),
                     makeWindow(11, {5000, 5000, 100, 100})};
  content.displays = {makeDisplay(1, {100, 50, 1920, 1080}), makeDisplay(2, {2020, 0, 1280, 1024})};
  return content;
}

TEST(ScreenShot, EveryPathThroughTheCommand) {
  struct Case {
    const char* name;
    bool contentFails;
    bool noDisplays;
    std::vector<bool> pictures;  // per capture request: a picture (true) or an error
    std::vector<bool> writes;    // per writePNG: its answer
    int status;                  // -1: returned with a line
    std::string out;
    std::string err;
    int requests;
    int written;
  };
  const std::string window = "{\"ok\":true,\"mode\":\"window\",\"path\":\"out.png\"}\n";
  const std::string crop = "{\"ok\":true,\"mode\":\"display-crop\",\"path\":\"out.png\"}\n";
  const std::vector<Case> cases = {
      {"window written", false, false, {true}, {true}, -1, window, "", 1, 1},
      {"window capture fails", false, false, {false, true}, {true}, -1, crop, kNote, 2, 1},
      {"window write fails", false, false, {true, true}, {false, true}, -1, crop, kNote, 2, 2},
      {"both writes fail", false, false, {true, true}, {false, false}, 1, "",
       std::string(kNote) + "png_encode_failed\n", 2, 2},
      {"display capture fails", false, false, {false, false}, {}, 1, "",
       std::string(kNote) + "display_capture_failed\n", 2, 0},
      {"no displays", false, true, {false}, {}, 1, "", std::string(kNote) + "no_display_for_window\n",
       1, 0},
      {"content query fails", true, false, {}, {}, 1, "", "no_shareable_content\n", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.capture.content = desktop();
    if (c.contentFails) rig.capture.content = failure("refused");
    if (c.noDisplays) rig.capture.content->displays.clear();
    for (bool picture : c.pictures)
      rig.capture.pictures.push_back(picture ? Result<Image>(coordinateImage(4000, 3000))
                                             : failure("BadMatch"));
    rig.images.answers.assign(c.writes.begin(), c.writes.end());

    EXPECT_EQ(rig.run(42), c.status < 0 ? -1 : c.status);
    EXPECT_EQ(rig.out.standardOutput(), c.out);
    EXPECT_EQ(rig.out.standardError(), c.err);
    EXPECT_EQ(static_cast<int>(rig.capture.requests.size()), c.requests);
    EXPECT_EQ(static_cast<int>(rig.images.writes.size()), c.written);
    ASSERT_LE(rig.capture.queries.size(), 1u);
    if (!rig.capture.queries.empty()) {
      EXPECT_FALSE(rig.capture.queries[0].excludingDesktopWindows);
      EXPECT_TRUE(rig.capture.queries[0].onScreenWindowsOnly);
    }
  }
}

// What is asked of the service and what is written: the first window with the id, alone at twice
// its size; else the display holding its midpoint, cropped to the window, or whole on a miss.
TEST(ScreenShot, AsksForTheWindowThenCropsTheDisplayHoldingIt) {
  struct Case {
    const char* name;
    std::uint32_t id;
    std::string path;
    bool windowPicture;
    Rect frame;                   // of the window asked for
    std::int64_t width, height;   // of the window picture asked for
    std::uint32_t display;        // the display asked for, 0 when none is
    std::uint32_t writtenWidth, writtenHeight, firstPixel;
    std::string out;
  };
  const Case cases[] = {
      {"window", 42, "a/b.png", true, {110, 60, 300, 200}, 600, 400, 0, 600, 400, 0,
       "{\"ok\":true,\"mode\":\"window\",\"path\":\"a/b.png\"}\n"},
      {"path as a string body", 42, "dir/\"q\"\\b\n.png", true, {110, 60, 300, 200}, 600, 400, 0,
       600, 400, 0, "{\"ok\":true,\"mode\":\"window\",\"path\":\"dir/\\\"q\\\"\\\\b\\n.png\"}\n"},
      // (110, 60) on a display at (100, 50): the crop starts at pixel (20, 20) and is 600 x 400.
      {"crop", 42, "out.png", false, {110, 60, 300, 200}, 600, 400, 1, 600, 400, 0x00001414u,
       "{\"ok\":true,\"mode\":\"display-crop\",\"path\":\"out.png\"}\n"},
      // On no display: the first is captured, and the window lies wholly outside it.
      {"crop misses", 11, "out.png", false, {5000, 5000, 100, 100}, 200, 200, 1, 3840, 2160, 0,
       "{\"ok\":true,\"mode\":\"display-crop\",\"path\":\"out.png\"}\n"},
      // 100.7 x 50.2 at (2000, 100): its midpoint lies on display 2 (from x 2020); x from -40 to
      // 161.4, so 0..162; y from 200 to 300.4, so 200..301.
      {"crop clipped", 9, "out.png", false, {2000, 100, 100.7, 50.2}, 200, 100, 2, 162, 101,
       0x0000c800u, "{\"ok\":true,\"mode\":\"display-crop\",\"path\":\"out.png\"}\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.capture.content = desktop();
    rig.capture.pictures.push_back(c.windowPicture ? Result<Image>(coordinateImage(600, 400))
                                                   : failure("gone"));
    // Twice the display's size in points.
    const std::uint32_t width = c.display == 1 ? 3840 : 2560, height = c.display == 1 ? 2160 : 2048;
    if (c.display != 0) rig.capture.pictures.push_back(coordinateImage(width, height));
    rig.images.answers = {true};
    ASSERT_EQ(rig.run(c.id, c.path), -1);
    EXPECT_EQ(rig.out.standardOutput(), c.out);
    EXPECT_EQ(rig.out.standardError(), c.display != 0 ? kNote : "");
    ASSERT_EQ(rig.capture.requests.size(), c.display != 0 ? 2u : 1u);
    const auto& window = rig.capture.requests[0];
    EXPECT_EQ(window.filter.kind, ContentFilter::Kind::desktopIndependentWindow);
    EXPECT_EQ(window.filter.window.frame, c.frame);
    EXPECT_EQ(window.configuration.width, c.width);
    EXPECT_EQ(window.configuration.height, c.height);
    if (c.display != 0) {
      const auto& display = rig.capture.requests[1];
      EXPECT_EQ(display.filter.kind, ContentFilter::Kind::displayExcludingWindows);
      EXPECT_EQ(display.filter.display.displayID, c.display);
      EXPECT_TRUE(display.filter.windows.empty());
      EXPECT_EQ(display.configuration.width, width);
      EXPECT_EQ(display.configuration.height, height);
    }
    ASSERT_EQ(rig.images.writes.size(), 1u);
    EXPECT_EQ(rig.images.writes[0].path, c.path);
    EXPECT_EQ(rig.images.writes[0].width, c.writtenWidth);
    EXPECT_EQ(rig.images.writes[0].height, c.writtenHeight);
    EXPECT_EQ(rig.images.writes[0].firstPixel, c.firstPixel);
  }
}

TEST(ScreenShot, UnknownIdFailsWithoutAskingForAPicture) {
  for (bool empty : {false, true}) {
    Rig rig;
    rig.capture.content = desktop();
    if (empty) rig.capture.content->windows.clear();
    EXPECT_EQ(rig.run(8), 1);
    EXPECT_EQ(rig.out.standardOutput(), "");
    EXPECT_EQ(rig.out.standardError(), "window_not_found\n");
    EXPECT_TRUE(rig.capture.requests.empty());
  }
}

}  // namespace
}  // namespace mirlet::testing
