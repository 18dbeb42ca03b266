#pragma once
// An asset writer for live audio: the capture thread only queues buffers (a bounded queue; the
// input reports not ready while it is full), and the writer's own thread encodes them and writes
// the file.

#include <memory>
#include <string>

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/linux/ffmpeg/aac_file.hpp"

namespace mirlet::ffmpeg {

// Queue bound: this much audio may wait for the encoder before the input reports not ready.
inline constexpr double kQueueSeconds = 2.0;
// The writer's thread sleeps until this much audio has gathered: woken for every 10-20 ms buffer,
// it spends more on waking and on cold caches than on encoding. What waits here is what a killed
// recording loses besides its open fragment, so the two together stay under a second.
inline constexpr double kBatchSeconds = 0.25;

Result<std::unique_ptr<AssetWriter>> makeM4aWriter(const std::string& path,
                                                   const AacFileSettings& settings = {});

}  // namespace mirlet::ffmpeg
