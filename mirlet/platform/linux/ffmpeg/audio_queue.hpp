#pragma once
// What waits for the file's thread: copies of the capture's audio up to a bound, and beyond it
// only the length of what came, as silence. The owner locks around it; nothing here waits.

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "mirlet/platform/linux/module.h"

namespace mirlet::ffmpeg {

class AudioQueue {
 public:
  struct Piece {
    std::int64_t frames = 0;
    std::vector<float> samples;  // empty for silence
  };

  // The file's thread sleeps until this much has gathered: woken for every 100 ms buffer, it
  // spends more on waking and on cold caches than on encoding.
  static constexpr std::int64_t kBatchFrames = MIRLET_RECORDING_RATE / 4;
  // This much audio may wait for the encoder; what comes while it is full is counted as silence.
  static constexpr std::int64_t kCopiedFrames = 2 * MIRLET_RECORDING_RATE;

  // Copies the audio, or counts it as silence when `samples` is null or the queue holds its
  // bound. True once a batch has gathered.
  bool add(const float* samples, std::int64_t frames) noexcept {
    if (frames <= 0) return false;
    try {
      if (samples != nullptr && copied_ < kCopiedFrames) {
        pieces_.push_back(
            Piece{frames, std::vector<float>(samples, samples + frames * MIRLET_RECORDING_CHANNELS)});
        copied_ += frames;
      } else if (!pieces_.empty() && pieces_.back().samples.empty()) {
        pieces_.back().frames += frames;
      } else {
        pieces_.push_back(Piece{frames, {}});
      }
    } catch (...) {
      // No memory for the copy: the audio is lost, its length is not, so that the file stays on
      // the recording's clock.
      owedSilence_ += frames;
    }
    queued_ += frames;
    return batchReady();
  }

  bool batchReady() const { return queued_ >= kBatchFrames; }

  // Everything queued, in order, and the queue empty again.
  std::deque<Piece> take() {
    std::deque<Piece> batch;
    batch.swap(pieces_);
    if (owedSilence_ > 0) batch.push_back(Piece{std::exchange(owedSilence_, 0), {}});
    queued_ = copied_ = 0;
    return batch;
  }

 private:
  std::deque<Piece> pieces_;
  std::int64_t queued_ = 0;       // audio and silence
  std::int64_t copied_ = 0;       // audio held as copies: the bound
  std::int64_t owedSilence_ = 0;  // audio that could not be copied
};

}  // namespace mirlet::ffmpeg
