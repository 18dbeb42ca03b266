// `windows` against a scripted capture service: the size test, the records and their encoding.

#include <gtest/gtest.h>

#include "fakes/fake_platform.hpp"
#include "fakes/recording_output.hpp"
#include "mirlet/screen/list_windows.hpp"

namespace mirlet::testing {
namespace {

struct Listing {
  int status;
  std::string out;
  std::string err;
  std::vector<ScriptedCaptureService::Query> queries;
};

Listing list(Result<ShareableContent> content) {
  FakePlatform fakes;
  ScriptedCaptureService& capture = fakes.defaultCaptureService;
  capture.content = std::move(content);
  Platform platform = fakes.platform();
  RecordingOutput out;
  const int status = endStatus([&] { listWindows(platform, out); });
  return {status, out.standardOutput(), out.standardError(), capture.queries};
}

ShareableContent withWindows(std::vector<Window> windows) {
  ShareableContent content;
  content.windows = std::move(windows);
  return content;
}

TEST(ScreenListWindows, SizeTestKeepsWindowsOfAtLeast80PointsEachWay) {
  struct Case {
    Rect frame;
    bool listed;
  };
  const std::vector<Case> cases = {
      {{0, 0, 80, 80}, true},      {{0, 0, 79.5, 600}, false}, {{0, 0, 600, 79}, false},
      {{0, 0, 79.999, 80}, false}, {{5, 5, 80.001, 80}, true}, {{0, 0, 0, 0}, false},
      {{100, 100, -80, -90}, true},  // counted from the other corner: 80 x 90 at (20, 10)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.frame.width << " x " << c.frame.height);
    const Listing result = list(withWindows({makeWindow(3, c.frame, "t", "a")}));
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.out == "[]\n", !c.listed) << result.out;
  }
  EXPECT_EQ(list(withWindows({makeWindow(3, {100, 100, -80, -90})})).out,
            "[{\"id\":3,\"app\":\"\",\"title\":\"\",\"x\":20,\"y\":10,\"w\":80,\"h\":90}]\n");
}

TEST(ScreenListWindows, RecordsKeepServiceOrderDuplicatesAndExactNumbers) {
  const Listing result = list(withWindows({
      makeWindow(4294967295u, {-1920, -0.5, 640.5, 480.25}, "a/b \"c\"\\\n\xc3\xa9\xe2\x9c\x93",
                 "xterm"),
      makeWindow(1, {0, 0, 10, 10}, "tiny", "x"),
      makeWindow(2, {0.1, 0.2, 100, 100}),
      makeWindow(5, {1, 1, 100, 100}, "same", "app"),
      makeWindow(5, {1, 1, 100, 100}, "same", "app"),
  }));
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "[{\"id\":4294967295,\"app\":\"xterm\",\"title\":\"a\\/b \\\"c\\\"\\\\\\n\xc3\xa9\xe2\x9c\x93\","
            "\"x\":-1920,\"y\":-0.5,\"w\":640.5,\"h\":480.25},"
            "{\"id\":2,\"app\":\"\",\"title\":\"\",\"x\":0.1,\"y\":0.2,\"w\":100,\"h\":100},"
            "{\"id\":5,\"app\":\"app\",\"title\":\"same\",\"x\":1,\"y\":1,\"w\":100,\"h\":100},"
            "{\"id\":5,\"app\":\"app\",\"title\":\"same\",\"x\":1,\"y\":1,\"w\":100,\"h\":100}]\n");
  ASSERT_EQ(result.queries.size(), 1u);
  EXPECT_FALSE(result.queries[0].excludingDesktopWindows);
  EXPECT_TRUE(result.queries[0].onScreenWindowsOnly);
}

TEST(ScreenListWindows, EmptyListAndFailedQuery) {
  EXPECT_EQ(list(withWindows({})).out, "[]\n");
  const Listing failed = list(failure("no X server"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "no_shareable_content\n");
}

}  // namespace
}  // namespace mirlet::testing
