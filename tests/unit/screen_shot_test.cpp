// `shot` against a scripted capture service: every transition of the command, what it asks the
// service for, and what the caller sees.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_capture.hpp"
#include "fakes/fake_platform.hpp"
#include "fakes/recording_output.hpp"
#include "mirlet/screen/shot.hpp"

namespace mirlet::testing {
namespace {

constexpr const char* kNote = "window capture failed, trying display-crop\n";

struct Rig {
  FakePlatform fakes;
  ScriptedCaptureService capture;
  ScriptedImageOutput images;
  RecordingOutput out;
  Platform platform = [this] {
    fakes.captureService = &capture;
    fakes.imageOutput = &images;
    return fakes.platform();
  }();

  int run(std::uint32_t id, const std::string& path = "out.png") {
    return endStatus([&] { shot(platform, out, id, path); });
  }
};

ShareableContent desktop() {
  ShareableContent content;
  content.windows = {makeWindow(7, {10, 10, 300, 200}), makeWindow(42, {110, 60, 300, 200}),
                     makeWindow(42, {0, 0, 999, 999}), makeWindow(9, {2000, 100, 100.7, 50.2})};
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

TEST(ScreenShot, AsksForTheFirstWindowWithTheIdAloneAtTwiceItsSize) {
  Rig rig;
  rig.capture.content = desktop();
  rig.capture.pictures.push_back(coordinateImage(600, 400));
  rig.images.answers = {true};
  ASSERT_EQ(rig.run(42, "a/b.png"), -1);
  ASSERT_EQ(rig.capture.requests.size(), 1u);
  const auto& request = rig.capture.requests[0];
  EXPECT_EQ(request.filter.kind, ContentFilter::Kind::desktopIndependentWindow);
  EXPECT_EQ(request.filter.window.frame, (Rect{110, 60, 300, 200}));  // not the later 42
  EXPECT_EQ(request.configuration.width, 600);
  EXPECT_EQ(request.configuration.height, 400);
  ASSERT_EQ(rig.images.writes.size(), 1u);
  EXPECT_EQ(rig.images.writes[0].path, "a/b.png");
  EXPECT_EQ(rig.images.writes[0].width, 600u);
  EXPECT_EQ(rig.out.standardOutput(),
            "{\"ok\":true,\"mode\":\"window\",\"path\":\"a/b.png\"}\n");
}

TEST(ScreenShot, FallbackCropsTheWindowOutOfTheWholeDisplayPicture) {
  Rig rig;
  rig.capture.content = desktop();
  rig.capture.pictures.push_back(failure("gone"));
  rig.capture.pictures.push_back(coordinateImage(3840, 2160));
  rig.images.answers = {true};
  ASSERT_EQ(rig.run(42), -1);
  ASSERT_EQ(rig.capture.requests.size(), 2u);
  const auto& request = rig.capture.requests[1];
  EXPECT_EQ(request.filter.kind, ContentFilter::Kind::displayExcludingWindows);
  EXPECT_EQ(request.filter.display.displayID, 1u);
  EXPECT_TRUE(request.filter.windows.empty());
  EXPECT_EQ(request.configuration.width, 3840);
  EXPECT_EQ(request.configuration.height, 2160);
  // (110, 60) on a display at (100, 50): the crop starts at pixel (20, 20) and is 600 x 400.
  ASSERT_EQ(rig.images.writes.size(), 1u);
  EXPECT_EQ(rig.images.writes[0].width, 600u);
  EXPECT_EQ(rig.images.writes[0].height, 400u);
  EXPECT_EQ(rig.images.writes[0].firstPixel, 0x00001414u);
}

TEST(ScreenShot, FallbackWritesTheWholeDisplayWhenTheCropMissesIt) {
  Rig rig;
  rig.capture.content = desktop();
  // On no display at all: the first one is captured, and the window lies wholly outside it.
  rig.capture.content->windows.push_back(makeWindow(11, {5000, 5000, 100, 100}));
  rig.capture.pictures.push_back(failure("gone"));
  rig.capture.pictures.push_back(coordinateImage(3840, 2160));
  rig.images.answers = {true};
  ASSERT_EQ(rig.run(11), -1);
  EXPECT_EQ(rig.capture.requests[1].filter.display.displayID, 1u);
  ASSERT_EQ(rig.images.writes.size(), 1u);
  EXPECT_EQ(rig.images.writes[0].width, 3840u);
  EXPECT_EQ(rig.images.writes[0].height, 2160u);
  EXPECT_EQ(rig.out.standardOutput(),
            "{\"ok\":true,\"mode\":\"display-crop\",\"path\":\"out.png\"}\n");
  EXPECT_EQ(rig.out.standardError(), kNote);
}

TEST(ScreenShot, FallbackCropIsClippedToTheDisplayHoldingTheMidpoint) {
  Rig rig;
  rig.capture.content = desktop();
  // 100.7 x 50.2 at (2000, 100): its midpoint lies on display 2 (from x 2020), the window reaches
  // 20 points left of it.
  rig.capture.pictures.push_back(failure("gone"));
  rig.capture.pictures.push_back(coordinateImage(2560, 2048));
  rig.images.answers = {true};
  ASSERT_EQ(rig.run(9), -1);
  EXPECT_EQ(rig.capture.requests[0].configuration.width, 200);
  EXPECT_EQ(rig.capture.requests[0].configuration.height, 100);
  EXPECT_EQ(rig.capture.requests[1].filter.display.displayID, 2u);
  ASSERT_EQ(rig.images.writes.size(), 1u);
  // x from -40 to 161.4, so 0..162; y from 200 to 300.4, so 200..301.
  EXPECT_EQ(rig.images.writes[0].width, 162u);
  EXPECT_EQ(rig.images.writes[0].height, 101u);
  EXPECT_EQ(rig.images.writes[0].firstPixel, 0x0000c800u);
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

TEST(ScreenShot, PathIsWrittenAsAJsonStringBody) {
  Rig rig;
  rig.capture.content = desktop();
  rig.capture.pictures.push_back(coordinateImage(600, 400));
  rig.images.answers = {true};
  ASSERT_EQ(rig.run(42, "dir/\"q\"\\b\n.png"), -1);
  EXPECT_EQ(rig.out.standardOutput(),
            "{\"ok\":true,\"mode\":\"window\",\"path\":\"dir/\\\"q\\\"\\\\b\\n.png\"}\n");
  EXPECT_EQ(rig.out.lines(), 1);
}

}  // namespace
}  // namespace mirlet::testing
