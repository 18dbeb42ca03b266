#pragma once
// Audio made longer or shorter by a few hundred parts per million, smoothly, with libswresample's
// compensation: how an output whose clock runs off the monotonic clock is brought onto the
// recording's clock without a click or a gap. In the recording's format; on the capture's thread.

#include <cstdint>
#include <vector>

extern "C" {
struct SwrContext;
}

namespace mirlet::pulse {

class Stretch {
 public:
  Stretch();
  ~Stretch();
  Stretch(const Stretch&) = delete;
  Stretch& operator=(const Stretch&) = delete;

  struct Output {
    const float* samples;  // null for silence
    std::int64_t frames;
  };
  // `frames` frames (null `samples`: silence), made `ppm` parts per million longer (shorter when
  // negative). The output stays valid until the next call. Without libswresample's resampler
  // (out of memory) the audio goes through as it came.
  Output apply(const float* samples, std::int64_t frames, double ppm);
  // A new run: what the resampler holds of the last one is dropped.
  void restart();

 private:
  SwrContext* context_ = nullptr;
  std::vector<float> output_;
  double silenceDebt_ = 0;  // the fraction of a frame that silence was stretched by
};

}  // namespace mirlet::pulse
