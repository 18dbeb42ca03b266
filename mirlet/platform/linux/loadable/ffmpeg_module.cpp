// The entry of the loadable module that carries the FFmpeg writer.

#include "mirlet/platform/linux/ffmpeg/m4a_writer.hpp"

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::FfmpegModule*
mirlet_ffmpeg_module() {
  return mirlet::ffmpeg::m4aModule();
}
