#pragma once
// The recording's one clock, on the capture's thread: stream audio, brought from its output's
// clock onto the monotonic one, and silence, placed by the timeline, then handed to the
// recorder's sink in order, so that each delivery continues the one before.
//
// An output's clock drifts: PipeWire's null sink runs 300 ppm slow, and its audio alone fell
// behind the wall clock by 18 ms a minute, until the timeline took the lag for lost audio and put
// 0.2 s of silence in. Each run's audio is stretched by its drift instead, so that it keeps pace
// with the clock, and only real losses become silence.

#include <cstdint>
#include <optional>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/pulse/capture_timeline.hpp"
#include "mirlet/platform/linux/pulse/drift_tracker.hpp"
#include "mirlet/platform/linux/pulse/stretch.hpp"

namespace mirlet::pulse {

class SampleClock {
 public:
  explicit SampleClock(mirlet_audio_sink sink)
      : sink_(sink), timeline_(MIRLET_RECORDING_RATE), drift_(MIRLET_RECORDING_RATE) {}

  // Frame 0 of the recording is the sound at `now`: nothing read before counts.
  void anchor(std::int64_t now) { timeline_.anchor(now); }

  // `frames` frames of the current stream (null `samples`: a hole, silence of its length), whose
  // first frame was captured at `capturedAt`; they arrived at `now`.
  void audio(const float* samples, std::int64_t frames, std::int64_t capturedAt,
             std::int64_t now) {
    // Audio read before the recording started was captured before it.
    if (frames <= 0 || ended_ || !timeline_.anchored()) return;
    lastAudioAt_ = now;
    drift_.arrived(now, frames);
    const Stretch::Output stretched = stretch_.apply(samples, frames, -drift_.ppm());
    if (stretched.frames <= 0) return;
    const CaptureTimeline::Placement placement =
        timeline_.placeAudio(capturedAt, stretched.frames);
    deliver(nullptr, placement.silenceBefore);
    const std::int64_t skip = placement.skipFrames;
    if (skip < stretched.frames)
      deliver(stretched.samples ? stretched.samples + skip * MIRLET_RECORDING_CHANNELS : nullptr,
              stretched.frames - skip);
  }

  // Whether the current stream's audio continues a run: otherwise its next buffer is placed by
  // the clock, and the stream's latency must be known for that.
  bool inRun() const { return timeline_.inRun(); }
  // The stream went: its successor's audio starts a new run.
  void breakRun() {
    timeline_.breakRun();
    drift_.reset();
    stretch_.restart();
  }

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
  DriftTracker drift_;  // of the current run's output
  Stretch stretch_;
  std::optional<std::int64_t> lastAudioAt_;
  bool ended_ = false;
};

}  // namespace mirlet::pulse
