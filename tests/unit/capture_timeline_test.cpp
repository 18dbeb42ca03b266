// Where captured audio lands on the recording's clock, across switches, outages and stalls, and
// what the capture does when a stream stays quiet, and how fast an output's clock runs.

#include <gtest/gtest.h>

#include "mirlet/platform/linux/pulse/capture_timeline.hpp"
#include "mirlet/platform/linux/pulse/drift_tracker.hpp"
#include "mirlet/platform/linux/pulse/watchdog.hpp"

namespace mirlet {
namespace {

constexpr std::int64_t s = 1'000'000'000, ms = 1'000'000;

// One recording, nanoseconds on the monotonic clock from an anchor at 1000 s: a stream delivers,
// the output switches, silence covers the switch, the new stream's audio comes late.
TEST(CaptureTimeline, OneAnchorAcrossStreamsAndSilenceOfWhatWasNotHeard) {
  pulse::CaptureTimeline timeline(48000);
  timeline.anchor(1000 * s);
  // The first stream's audio was captured 20 ms after the start: silence before it.
  auto placement = timeline.placeAudio(1000 * s + 20 * ms, 2400);
  EXPECT_EQ(placement.silenceBefore, 960);
  timeline.take(960 + 2400);
  // Within a run, buffers follow each other while the clock puts them within arrival jitter.
  placement = timeline.placeAudio(1000 * s + 200 * ms, 2400);
  EXPECT_EQ(placement.silenceBefore, 0);
  timeline.take(2400);
  // The output switched: silence up to the clock, and the run is over.
  timeline.breakRun();
  EXPECT_EQ(timeline.silenceUntil(1001 * s), 48000 - 5760);
  timeline.take(48000 - 5760);
  // The next stream's first audio was captured before the silence ended: its head is dropped,
  // and the timeline never restarts.
  placement = timeline.placeAudio(1001 * s - 10 * ms, 2400);
  EXPECT_EQ(placement.skipFrames, 480);
  timeline.take(2400 - 480);
  EXPECT_EQ(timeline.delivered(), 48000 + 1920);
}

// A server that stalls either drops what played meanwhile (the run's next buffers stay late: the
// loss becomes silence) or keeps it and sends it in a burst (late for a moment: nothing changes).
TEST(CaptureTimeline, AudioLostWithinARunBecomesSilenceAndABurstDoesNot) {
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

// Given the time, the stream's age and its last audio: wait while it delivers, silence while
// it does not, a new stream once it has been silent too long.
TEST(CaptureWatchdog, SilenceWhileNothingIsHeardAndANewStreamWhenOneStaysSilent) {
  using pulse::watchdog::Action;
  struct Case {
    std::string name;
    std::optional<std::int64_t> madeAt, lastAudioAt;
    bool quietBefore;
    Action action;
    std::int64_t nextAt;
  };
  const std::int64_t now = 100 * s;
  const Case cases[] = {
      {"delivering", now - 10 * s, now - 300 * ms, true, Action::wait, now + 700 * ms},
      {"just within a second", now - 10 * s, now - 1 * s, true, Action::wait, now},
      {"stalled", now - 10 * s, now - 1 * s - 1, true, Action::silence, now + 100 * ms},
      {"no stream", std::nullopt, now - 20 * s, true, Action::silence, now + 100 * ms},
      {"new, quiet as an idle null sink", now - 2500 * ms, std::nullopt, true, Action::silence,
       now + 100 * ms},
      {"new, and heard only before it", now - 2500 * ms, now - 2600 * ms, true, Action::silence,
       now + 100 * ms},
      {"new, and never heard", now - 3 * s - 1, std::nullopt, true, Action::remake, now + 100 * ms},
      {"silent since its last audio", now - 10 * s, now - 3 * s - 1, true, Action::remake,
       now + 100 * ms},
      {"stalled, not for long enough", now - 10 * s, now - 3 * s, true, Action::silence,
       now + 100 * ms},
      // The first quiet tick lets the loop read what a held-up thread left unread.
      {"quiet since the last tick", now - 10 * s, now - 3 * s - 1, false, Action::lookAgain,
       now + 20 * ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto decision = pulse::watchdog::decide(now, c.madeAt, c.lastAudioAt, c.quietBefore);
    EXPECT_EQ(decision.action, c.action);
    EXPECT_EQ(decision.nextAt, c.nextAt);
  }
}

// 100 ms buffers from an output whose clock runs `ppm` off, arriving up to 8 ms late at random,
// for 90 s. A stall at 60 s holds 0.8 s of them back: a server that drops them loses 38400
// frames, which must not read as drift; one that hands them over in a burst loses nothing. One
// that runs 100 ms late for a whole 4 s stretch, twice, and catches up each time loses nothing.
TEST(DriftTracker, TellsASteadySlopeFromAJumpThatStaysAndABurstThatCatchesUp) {
  enum class Stall { none, drops, bursts, lags };
  struct Case {
    double ppm;
    Stall stall;
  };
  for (const Case& c : {Case{100, Stall::none}, Case{-100, Stall::none}, Case{300, Stall::none},
                        Case{-300, Stall::none}, Case{1000, Stall::none},
                        Case{-1000, Stall::none}, Case{-300, Stall::drops},
                        Case{300, Stall::drops}, Case{-300, Stall::bursts},
                        Case{1000, Stall::bursts}, Case{300, Stall::lags}}) {
    SCOPED_TRACE(std::to_string(c.ppm) + " ppm, stall " + std::to_string(int(c.stall)));
    pulse::DriftTracker tracker(48000);
    std::uint32_t random = 12345;
    for (int i = 1; i <= 900; ++i) {
      const auto ready = static_cast<std::int64_t>(i * 100 * ms / (1 + c.ppm / 1e6));
      random = random * 1664525 + 1013904223;
      std::int64_t at = 50 * s + ready + static_cast<std::int64_t>(random >> 8) % (8 * ms);
      const bool held = ready >= 60 * s && ready < 60800 * ms;
      if (held && c.stall == Stall::drops) continue;
      if (held && c.stall == Stall::bursts) at = 50 * s + 60800 * ms + i * ms / 10;
      const bool lagging = (ready >= 20 * s && ready < 24300 * ms) ||
                           (ready >= 40 * s && ready < 44300 * ms);
      if (lagging && c.stall == Stall::lags) at += 100 * ms;
      tracker.arrived(at, 4800);
    }
    EXPECT_NEAR(tracker.ppm(), c.ppm, 15);
    EXPECT_NEAR(tracker.lostFrames(), c.stall == Stall::drops ? 38400 : 0, 480);
  }
}

}  // namespace
}  // namespace mirlet
