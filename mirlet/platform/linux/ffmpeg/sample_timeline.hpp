#pragma once
// Where each buffer belongs on a file's sample timeline.
//
// The file starts at the session's start time. A buffer whose time lies past the samples written
// so far leaves a gap that is filled with silence; one that overlaps them loses its overlapping
// head. So the file keeps every buffer at its own time and its length follows the clock of the
// capture, whatever was dropped on the way.

extern "C" {
#include <libavutil/mathematics.h>
}

#include <cstdint>

#include "mirlet/platform/media_time.hpp"

namespace mirlet::ffmpeg {

struct Placement {
  std::int64_t silenceBefore = 0;  // frames of silence to write before the buffer
  std::int64_t skipFrames = 0;     // frames at the buffer's head that are already covered
};

class SampleTimeline {
 public:
  // Rounding of foreign time scales may move a buffer by a frame or two; that is no gap.
  static constexpr std::int64_t kToleranceFrames = 2;

  SampleTimeline(int sampleRate, MediaTime sessionStart)
      : sampleRate_(sampleRate), sessionStart_(sessionStart) {}

  // Places a buffer of `frames` frames that starts at `time` and counts it as written.
  Placement place(MediaTime time, std::int64_t frames) {
    Placement placement;
    const std::int64_t start = framesSinceStart(time);
    if (start > written_ + kToleranceFrames) placement.silenceBefore = start - written_;
    else if (start < written_ - kToleranceFrames) placement.skipFrames = written_ - start;
    if (placement.skipFrames > frames) placement.skipFrames = frames;
    written_ += placement.silenceBefore + frames - placement.skipFrames;
    return placement;
  }

  std::int64_t written() const { return written_; }

 private:
  std::int64_t framesSinceStart(MediaTime time) const {
    return toFrames(time) - toFrames(sessionStart_);
  }
  std::int64_t toFrames(MediaTime time) const {
    if (!time.isValid()) return 0;
    // Rounded to the nearest frame, without overflow for large clock values.
    return av_rescale_rnd(time.value, sampleRate_, time.timescale, AV_ROUND_NEAR_INF);
  }

  int sampleRate_;
  MediaTime sessionStart_;
  std::int64_t written_ = 0;
};

}  // namespace mirlet::ffmpeg
