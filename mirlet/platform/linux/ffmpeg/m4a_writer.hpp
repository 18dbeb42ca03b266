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

Result<std::unique_ptr<AssetWriter>> makeM4aWriter(const std::string& path,
                                                   const AacFileSettings& settings = {});

}  // namespace mirlet::ffmpeg
