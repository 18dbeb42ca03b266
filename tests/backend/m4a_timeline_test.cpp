// Where buffers land on the file's timeline: gaps become silence, overlaps lose their head.

#include <gtest/gtest.h>

#include "mirlet/platform/linux/ffmpeg/sample_timeline.hpp"

namespace mirlet::ffmpeg {
namespace {

TEST(BackendM4aTimeline, BuffersKeepTheirOwnTimes) {
  struct Step {
    MediaTime time;
    std::int64_t frames;
    std::int64_t silence;
    std::int64_t skip;
  };
  struct Case {
    const char* name;
    MediaTime start;
    std::vector<Step> steps;
    std::int64_t written;
  };
  const std::vector<Case> cases = {
      {"back to back", {1000, 48000}, {{{1000, 48000}, 480, 0, 0}, {{1480, 48000}, 480, 0, 0}}, 960},
      {"a lost buffer leaves its silence",
       {0, 48000},
       {{{0, 48000}, 480, 0, 0}, {{960, 48000}, 480, 480, 0}},
       1440},
      {"an overlap loses its head",
       {0, 48000},
       {{{0, 48000}, 480, 0, 0}, {{400, 48000}, 480, 0, 80}},
       880},
      {"a buffer wholly before the end adds nothing",
       {0, 48000},
       {{{0, 48000}, 960, 0, 0}, {{100, 48000}, 480, 0, 480}},
       960},
      {"a frame of rounding is no gap",
       {0, 1'000'000'000},
       {{{0, 1'000'000'000}, 480, 0, 0}, {{10'020'000, 1'000'000'000}, 480, 0, 0}},
       960},
      {"nanosecond clocks map onto frames",
       {5'000'000'000, 1'000'000'000},
       {{{5'000'000'000, 1'000'000'000}, 480, 0, 0}, {{6'000'000'000, 1'000'000'000}, 480, 47520, 0}},
       48480},
      {"a first buffer before the session start is cut to it",
       {480, 48000},
       {{{0, 48000}, 960, 0, 480}},
       480},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SampleTimeline timeline(48000, c.start);
    for (const Step& step : c.steps) {
      const Placement placement = timeline.place(step.time, step.frames);
      EXPECT_EQ(placement.silenceBefore, step.silence);
      EXPECT_EQ(placement.skipFrames, step.skip);
    }
    EXPECT_EQ(timeline.written(), c.written);
  }
}

}  // namespace
}  // namespace mirlet::ffmpeg
