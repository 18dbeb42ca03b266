#pragma once
// Where captured audio lands on the recording's one clock, for the whole recording.
//
// The sound server stamps no fragment, and arrival times jitter with scheduling, so within a run
// of audio from one record stream each buffer's time is its position in the run: buffers meet
// frame by frame. A recording outlives its record streams, though: the default output changes,
// the output goes away, the server restarts. One anchor on the monotonic clock, taken when the
// recording starts, serves every run. A run starts where the clock says its first frame was
// captured; whatever no stream delivered before it (a switch, an outage, an output that renders
// late) is silence of its length, and audio that such silence already covered is dropped.
//
// Within a run a stream can still lose audio: a sound server that stalls for a moment drops what
// played meanwhile and goes on with the present. When the clock keeps placing a run's buffers
// later than arrival jitter can account for, the loss becomes silence of its length. So the
// timeline never restarts, audio stays where it was heard, and the file's length follows the
// wall clock.

#include <algorithm>
#include <cstdint>

namespace mirlet::pulse {

class CaptureTimeline {
 public:
  struct Placement {
    std::int64_t silenceBefore = 0;  // frames of silence due before the buffer
    std::int64_t skipFrames = 0;     // frames at the buffer's head that silence already covered
  };

  explicit CaptureTimeline(int sampleRate) : sampleRate_(sampleRate) {}

  // Frame 0 of the recording is the sound at `nowNanoseconds` (monotonic clock). Nothing is placed
  // or filled with silence before this.
  void anchor(std::int64_t nowNanoseconds) {
    anchorFrame_ = toFrames(nowNanoseconds);
    anchored_ = true;
  }
  bool anchored() const { return anchored_; }

  // The next buffer from a stream starts a new run: it is placed by the clock.
  void breakRun() {
    inRun_ = false;
    lateSince_ = -1;
  }
  bool inRun() const { return inRun_; }

  // The silence that brings the timeline up to `nowNanoseconds`; it ends any run.
  std::int64_t silenceUntil(std::int64_t nowNanoseconds) {
    breakRun();
    return std::max<std::int64_t>(0, toFrames(nowNanoseconds) - anchorFrame_ - delivered_);
  }

  // Places `frames` frames of stream audio whose first frame was captured at
  // `capturedAtNanoseconds`. Within a run the buffer follows the one before it, unless the clock
  // has put the run's buffers more than `kRunToleranceMilliseconds` later for a while. (A run is
  // never pulled back: the first buffer's latency estimate can be too long, by 0.6 s on
  // PulseAudio's null sink after a restart, and its whole run would seem early.)
  Placement placeAudio(std::int64_t capturedAtNanoseconds, std::int64_t frames) {
    Placement placement;
    const std::int64_t position = toFrames(capturedAtNanoseconds) - anchorFrame_;
    // Two frames either way is rounding, not a gap.
    const std::int64_t tolerance =
        inRun_ ? kRunToleranceMilliseconds * sampleRate_ / 1000 : kToleranceFrames;
    const bool late = position > delivered_ + tolerance;
    if (inRun_ && late) {
      // Audio was lost, or what a stalled server kept comes in a burst. A burst catches up within
      // milliseconds of the clock; a loss stays until it is filled.
      if (lateSince_ < 0) lateSince_ = capturedAtNanoseconds;
      if (capturedAtNanoseconds - lateSince_ < kLateForNanoseconds) return placement;
    }
    lateSince_ = -1;
    if (late) placement.silenceBefore = position - delivered_;
    else if (!inRun_ && position < delivered_ - tolerance)
      placement.skipFrames = std::min(frames, delivered_ - position);
    inRun_ = true;
    return placement;
  }

  // The next `frames` frames went out; they count as delivered.
  void take(std::int64_t frames) { delivered_ += frames; }

  std::int64_t delivered() const { return delivered_; }

 private:
  static constexpr std::int64_t kToleranceFrames = 2;
  // Where the clock puts a stream's buffers wanders with arrival jitter: at most 35 ms after the
  // run's end in the end-to-end recordings on both servers (sanitizer build). After pipewire-pulse
  // stalled for 0.8 s, its next buffers came 770-800 ms late, and stayed so.
  static constexpr std::int64_t kRunToleranceMilliseconds = 250;
  // How long a run's buffers stay late before the silence of what was lost goes in: two
  // fragments' worth of arrivals. A burst after a stall arrives within a few milliseconds.
  static constexpr std::int64_t kLateForNanoseconds = 150'000'000;

  std::int64_t toFrames(std::int64_t nanoseconds) const {
    // Split to keep the product in range for any uptime.
    return nanoseconds / 1'000'000'000 * sampleRate_ +
           nanoseconds % 1'000'000'000 * sampleRate_ / 1'000'000'000;
  }

  int sampleRate_;
  bool anchored_ = false;
  bool inRun_ = false;
  std::int64_t anchorFrame_ = 0;
  std::int64_t delivered_ = 0;
  std::int64_t lateSince_ = -1;  // capture time of the first of a run's buffers found late
};

}  // namespace mirlet::pulse
