// Where captured audio lands on the recording's timeline, across switches and outages.

#include <gtest/gtest.h>

#include "mirlet/platform/linux/pulse/capture_timeline.hpp"

namespace mirlet {
namespace {

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
  // Within a run, buffers follow each other while the clock puts them within arrival jitter.
  placement = timeline.placeAudio(1000 * s + 200 * ms, 2400);
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

// A server that stalls either drops what played meanwhile (the run's next buffers stay late: the
// loss becomes silence) or keeps it and sends it in a burst (late for a moment: nothing changes).
TEST(BackendCaptureTimeline, AudioLostWithinARunBecomesSilenceAndABurstDoesNot) {
  constexpr std::int64_t s = 1'000'000'000, ms = 1'000'000;
  for (const bool lost : {true, false}) {
    SCOPED_TRACE(lost ? "lost" : "burst");
    pulse::CaptureTimeline timeline(48000);
    timeline.anchor(1000 * s);
    timeline.placeAudio(1000 * s, 4800);
    timeline.take(4800);
    // After a 0.8 s stall: buffers 100 ms apart stay 0.8 s late, or eight that the server kept
    // arrive within 8 ms and the next one is on time.
    std::int64_t silence = 0;
    for (int i = 0; i < 9; ++i) {
      const std::int64_t at = lost ? 900 + 100 * i : (i < 8 ? 900 + i : 1000);
      const auto placement = timeline.placeAudio(1000 * s + at * ms, 4800);
      EXPECT_EQ(placement.skipFrames, 0);
      silence += placement.silenceBefore;
      timeline.take(placement.silenceBefore + 4800);
    }
    EXPECT_EQ(silence, lost ? 38400 : 0);
  }
}

}  // namespace
}  // namespace mirlet
