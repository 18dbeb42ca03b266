#include "mirlet/platform/linux/pulse/stretch.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cmath>

#include "mirlet/platform/linux/module.h"

namespace mirlet::pulse {
namespace {

// The compensation is spread over this many frames, and set again with every buffer: at 10 s a
// step of one frame is 2 ppm.
constexpr int kCompensationFrames = 10 * MIRLET_RECORDING_RATE;

}  // namespace

Stretch::Stretch() { restart(); }

Stretch::~Stretch() { swr_free(&context_); }

void Stretch::restart() {
  swr_free(&context_);
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, MIRLET_RECORDING_CHANNELS);
  if (swr_alloc_set_opts2(&context_, &layout, AV_SAMPLE_FMT_FLT, MIRLET_RECORDING_RATE, &layout,
                          AV_SAMPLE_FMT_FLT, MIRLET_RECORDING_RATE, 0, nullptr) < 0 ||
      // At one rate libswresample copies, unless told to resample: compensation needs the
      // resampler from the start, since making it later would drop what it holds.
      av_opt_set_int(context_, "swr_flags", SWR_FLAG_RESAMPLE, 0) < 0 || swr_init(context_) < 0)
    swr_free(&context_);
  av_channel_layout_uninit(&layout);
}

Stretch::Output Stretch::apply(const float* samples, std::int64_t frames, double ppm) {
  if (context_ == nullptr) return {samples, frames};
  if (samples == nullptr) {
    // A hole: silence of the stretched length, without disturbing the filter's history.
    const double stretched = static_cast<double>(frames) * (1 + ppm / 1e6) + silenceDebt_;
    const auto whole = static_cast<std::int64_t>(std::floor(stretched));
    silenceDebt_ = stretched - static_cast<double>(whole);
    return {nullptr, whole};
  }
  const int delta = static_cast<int>(std::lround(ppm * kCompensationFrames / 1e6));
  if (swr_set_compensation(context_, delta, kCompensationFrames) < 0)
    return {samples, frames};
  const int capacity = swr_get_out_samples(context_, static_cast<int>(frames));
  if (capacity <= 0) return {samples, frames};
  output_.resize(static_cast<std::size_t>(capacity) * MIRLET_RECORDING_CHANNELS);
  auto* out = reinterpret_cast<std::uint8_t*>(output_.data());
  const auto* in = reinterpret_cast<const std::uint8_t*>(samples);
  const int made = swr_convert(context_, &out, capacity, &in, static_cast<int>(frames));
  if (made < 0) return {samples, frames};
  return {output_.data(), made};
}

}  // namespace mirlet::pulse
