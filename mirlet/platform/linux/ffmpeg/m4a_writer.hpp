#pragma once
// An M4A file for live audio: the capture thread only queues copies of its buffers (a bounded
// queue; the file reports not ready while it is full), and the writer's own thread encodes them
// and writes the file.

#include <memory>
#include <string>

#include "mirlet/platform/linux/ffmpeg/aac_file.hpp"
#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/media_time.hpp"

namespace mirlet::ffmpeg {

// Queue bound: this much audio may wait for the encoder before the file reports not ready.
inline constexpr double kQueueSeconds = 2.0;
// The writer's thread sleeps until this much audio has gathered: woken for every 10-20 ms buffer,
// it spends more on waking and on cold caches than on encoding. What waits here is what a killed
// recording loses besides its open fragment, so the two together stay under a second.
inline constexpr double kBatchSeconds = 0.25;

// One recording's file. The capture's thread asks ready/start/append, the stop path finish; the
// writer's own thread does the rest.
class M4aFile {
 public:
  // Opens the encoder and checks that a file can be made at `path`; `failed` is told, once, on
  // the writer's thread, when the file cannot be written any more.
  static Result<std::unique_ptr<M4aFile>> create(const std::string& path,
                                                 const AacFileSettings& settings,
                                                 mirlet_reason_sink failed);
  ~M4aFile();

  // False while the queue is full, and once finishing began.
  bool ready() const;
  // Writing begins; the file's timeline starts at `time`.
  void start(MediaTime time);
  // Queues a copy of the audio (silence when `samples` is null); false when it was not taken.
  bool append(const float* samples, std::int64_t frames, MediaTime time);
  // Completes the file, then tells `done` once, on the writer's thread.
  void finish(mirlet_done_sink done);

 private:
  class Writer;
  explicit M4aFile(std::unique_ptr<Writer> writer);
  std::unique_ptr<Writer> writer_;
};

}  // namespace mirlet::ffmpeg
