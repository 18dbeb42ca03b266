#pragma once
// AAC in M4A files through FFmpeg's libraries.

#include <memory>

#include "mirlet/platform/asset_writer.hpp"

namespace mirlet::ffmpeg {

std::unique_ptr<AssetWriting> makeAssetWriting();

}  // namespace mirlet::ffmpeg
