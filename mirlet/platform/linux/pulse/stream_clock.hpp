#pragma once
// Presentation times of captured audio. The sound server stamps no fragment, and arrival times
// jitter with scheduling, so each buffer's time is its position in the stream: the first sample's
// time, taken once from the clock less the stream's latency, plus the number of frames before it.
// Times are counted in frames, so consecutive buffers meet exactly.

#include <cstdint>

#include "mirlet/platform/media_time.hpp"

namespace mirlet::pulse {

class StreamClock {
 public:
  explicit StreamClock(int sampleRate) : sampleRate_(sampleRate) {}

  bool anchored() const { return anchored_; }

  // The first sample was captured `latencyNanoseconds` before `nowNanoseconds` (monotonic clock).
  void anchor(std::int64_t nowNanoseconds, std::int64_t latencyNanoseconds) {
    const std::int64_t first = nowNanoseconds - latencyNanoseconds;
    // Split to keep the product in range for any uptime.
    firstFrame_ = first / 1'000'000'000 * sampleRate_ +
                  first % 1'000'000'000 * sampleRate_ / 1'000'000'000;
    anchored_ = true;
  }

  // The time of the next `frames` frames; they count as delivered.
  MediaTime next(std::int64_t frames) {
    const MediaTime time{firstFrame_ + delivered_, sampleRate_};
    delivered_ += frames;
    return time;
  }

 private:
  int sampleRate_;
  bool anchored_ = false;
  std::int64_t firstFrame_ = 0;
  std::int64_t delivered_ = 0;
};

}  // namespace mirlet::pulse
