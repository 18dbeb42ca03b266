#pragma once
// The recording's one clock, on the capture's thread: stream audio and silence placed by the
// timeline, then handed to the recorder's sink in order, so that each delivery continues the one
// before.

#include <cstdint>
#include <optional>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/pulse/capture_timeline.hpp"

namespace mirlet::pulse {

class SampleClock {
 public:
  explicit SampleClock(mirlet_audio_sink sink) : sink_(sink), timeline_(MIRLET_RECORDING_RATE) {}

  // Frame 0 of the recording is the sound at `now`: nothing read before counts.
  void anchor(std::int64_t now) { timeline_.anchor(now); }

  // `frames` frames of the current stream (null `samples`: a hole, silence of its length), whose
  // first frame was captured at `capturedAt`; they arrived at `now`.
  void audio(const float* samples, std::int64_t frames, std::int64_t capturedAt,
             std::int64_t now) {
    // Audio read before the recording started was captured before it.
    if (frames <= 0 || ended_ || !timeline_.anchored()) return;
    lastAudioAt_ = now;
    const CaptureTimeline::Placement placement = timeline_.placeAudio(capturedAt, frames);
    deliver(nullptr, placement.silenceBefore);
    const std::int64_t skip = placement.skipFrames;
    if (skip < frames)
      deliver(samples ? samples + skip * MIRLET_RECORDING_CHANNELS : nullptr, frames - skip);
  }

  // Whether the current stream's audio continues a run: otherwise its next buffer is placed by
  // the clock, and the stream's latency must be known for that.
  bool inRun() const { return timeline_.inRun(); }
  // The stream went: its successor's audio starts a new run.
  void breakRun() { timeline_.breakRun(); }

  // Silence up to `now`, where no stream delivers.
  void silenceUntil(std::int64_t now) {
    if (!ended_ && timeline_.anchored()) deliver(nullptr, timeline_.silenceUntil(now));
  }

  // The recording ends at `at`: silence up to it, and nothing after, also when a fragment read
  // meanwhile would lie past it.
  void end(std::int64_t at) {
    silenceUntil(at);
    ended_ = true;
  }

  // When audio last arrived, from any stream.
  std::optional<std::int64_t> lastAudioAt() const { return lastAudioAt_; }

 private:
  void deliver(const float* samples, std::int64_t frames) {
    if (frames <= 0) return;
    timeline_.take(frames);
    sink_.audio(sink_.context, samples, frames);
  }

  const mirlet_audio_sink sink_;
  CaptureTimeline timeline_;
  std::optional<std::int64_t> lastAudioAt_;
  bool ended_ = false;
};

}  // namespace mirlet::pulse
