// The entry of mirlet-ffmpeg.so: the recording's M4A file, through FFmpeg's libraries.

#include "mirlet/platform/linux/ffmpeg/m4a_writer.hpp"
#include "mirlet/platform/linux/module_entry.hpp"

namespace {

using mirlet::MediaTime;
using mirlet::ffmpeg::M4aFile;
using mirlet::module::guard;
using mirlet::module::quietly;

M4aFile* unwrap(mirlet_audio_file* file) { return reinterpret_cast<M4aFile*>(file); }
const M4aFile* unwrap(const mirlet_audio_file* file) {
  return reinterpret_cast<const M4aFile*>(file);
}

int create(const char* path, int sampleRate, int channels, int bitRate, mirlet_reason_sink failed,
           mirlet_audio_file** file, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    mirlet::ffmpeg::AacFileSettings settings;
    settings.sampleRate = sampleRate;
    settings.channels = channels;
    settings.bitRate = bitRate;
    auto made = M4aFile::create(path, settings, failed);
    if (!made) return mirlet::failure(made.error());
    *file = reinterpret_cast<mirlet_audio_file*>(made->release());
    return {};
  });
}

int append(mirlet_audio_file* file, const float* samples, int64_t frames, int64_t time,
           int32_t timescale, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    if (!unwrap(file)->append(samples, frames, MediaTime{time, timescale}))
      return mirlet::failure("the file takes no more audio now");
    return {};
  });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_file_module* mirlet_ffmpeg_entry() {
  static constexpr mirlet_file_module module{
      &create,
      [](const mirlet_audio_file* file) noexcept -> int {
        int ready = 0;
        quietly([&] { ready = unwrap(file)->ready() ? 1 : 0; });
        return ready;
      },
      [](mirlet_audio_file* file, int64_t time, int32_t timescale) noexcept {
        quietly([&] { unwrap(file)->start(MediaTime{time, timescale}); });
      },
      &append,
      [](mirlet_audio_file* file, mirlet_done_sink done) noexcept {
        quietly([&] { unwrap(file)->finish(done); });
      },
      [](mirlet_audio_file* file) noexcept { quietly([&] { delete unwrap(file); }); },
  };
  return &module;
}
