// Where audio lands on the timelines: the capture's, across switches and outages, and the file's,
// where gaps become silence and overlaps lose their head.

#include <gtest/gtest.h>

#include "mirlet/platform/linux/ffmpeg/sample_timeline.hpp"
#include "mirlet/platform/linux/pulse/capture_timeline.hpp"

namespace mirlet {
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
      {"a lost buffer leaves its silence",
       {0, 48000},
       {{{0, 48000}, 480, 0, 0}, {{960, 48000}, 480, 480, 0}},
       1440},
      {"an overlap loses its head",
       {0, 48000},
       {{{0, 48000}, 480, 0, 0}, {{400, 48000}, 480, 0, 80}},
       880},
      {"a frame of rounding is no gap",
       {0, 1'000'000'000},
       {{{0, 1'000'000'000}, 480, 0, 0}, {{10'020'000, 1'000'000'000}, 480, 0, 0}},
       960},
      {"a first buffer before the session start is cut to it",
       {480, 48000},
       {{{0, 48000}, 960, 0, 480}},
       480},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ffmpeg::SampleTimeline timeline(48000, c.start);
    for (const Step& step : c.steps) {
      const ffmpeg::Placement placement = timeline.place(step.time, step.frames);
      EXPECT_EQ(placement.silenceBefore, step.silence);
      EXPECT_EQ(placement.skipFrames, step.skip);
    }
    EXPECT_EQ(timeline.written(), c.written);
  }
}

// One recording, nanoseconds on the monotonic clock from an anchor at 1000 s: a stream delivers,
// the output switches, silence covers the switch, the new stream's audio comes late.
TEST(BackendCaptureTimeline, OneAnchorAcrossStreamsAndSilenceOfWhatWasNotHeard) {
  constexpr std::int64_t s = 1'000'000'000, ms = 1'000'000;
  pulse::CaptureTimeline timeline(48000);
  timeline.anchor(1000 * s);
  // The first stream's audio was captured 20 ms after the start: silence before it.
  auto placement = timeline.placeAudio(1000 * s + 20 * ms, 2400);
  EXPECT_EQ(placement.silenceBefore, 960);
  EXPECT_EQ(timeline.take(960), (MediaTime{48'000'000, 48000}));
  EXPECT_EQ(timeline.take(2400), (MediaTime{48'000'960, 48000}));
  // Within a run, buffers follow each other, whatever the clock says.
  placement = timeline.placeAudio(1000 * s + 500 * ms, 2400);
  EXPECT_EQ(placement.silenceBefore, 0);
  EXPECT_EQ(timeline.take(2400), (MediaTime{48'003'360, 48000}));
  // The output switched: silence up to the clock, and the run is over.
  timeline.breakRun();
  EXPECT_EQ(timeline.silenceUntil(1001 * s), 48000 - 5760);
  timeline.take(48000 - 5760);
  // The next stream's first audio was captured before the silence ended: its head is dropped,
  // and the timeline never restarts.
  placement = timeline.placeAudio(1001 * s - 10 * ms, 2400);
  EXPECT_EQ(placement.skipFrames, 480);
  EXPECT_EQ(timeline.take(2400 - 480), (MediaTime{48'048'000, 48000}));
  EXPECT_EQ(timeline.delivered(), 48000 + 1920);
}

}  // namespace
}  // namespace mirlet
