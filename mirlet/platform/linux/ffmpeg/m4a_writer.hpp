#pragma once
// An M4A file for live audio: the capture thread only queues copies of its buffers (a bounded
// queue; the file reports not ready while it is full), and the writer's own thread encodes them
// and writes the file.

#include "mirlet/platform/linux/ffmpeg/aac_file.hpp"
#include "mirlet/platform/linux/loadable/modules.hpp"

namespace mirlet::ffmpeg {

// Queue bound: this much audio may wait for the encoder before the file reports not ready.
inline constexpr double kQueueSeconds = 2.0;
// The writer's thread sleeps until this much audio has gathered: woken for every 10-20 ms buffer,
// it spends more on waking and on cold caches than on encoding. What waits here is what a killed
// recording loses besides its open fragment, so the two together stay under a second.
inline constexpr double kBatchSeconds = 0.25;

// The module's entry points (see FfmpegModule).
const loadable::FfmpegModule* m4aModule();

}  // namespace mirlet::ffmpeg
