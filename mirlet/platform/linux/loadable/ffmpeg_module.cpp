// The entry of the loadable module that carries the FFmpeg writer.

#include "mirlet/platform/linux/ffmpeg/asset_writing.hpp"
#include "mirlet/platform/linux/loadable/modules.hpp"

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::FfmpegModule*
mirlet_ffmpeg_module() {
  static constexpr mirlet::loadable::FfmpegModule module{&mirlet::ffmpeg::makeAssetWriting};
  return &module;
}
