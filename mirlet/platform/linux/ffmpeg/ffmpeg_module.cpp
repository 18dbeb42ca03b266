// The entry of mirlet-ffmpeg.so: the recording's M4A file, through FFmpeg's libraries.

#include "mirlet/platform/linux/ffmpeg/m4a_file.hpp"
#include "mirlet/platform/linux/module_entry.hpp"

namespace {

using mirlet::ffmpeg::M4aFile;
using mirlet::module::guard;
using mirlet::module::quietly;

M4aFile* unwrap(mirlet_audio_file* file) { return reinterpret_cast<M4aFile*>(file); }

int create(const char* path, mirlet_audio_file** file, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> mirlet::Result<void> {
    auto made = M4aFile::create(path);
    if (!made) return mirlet::failure(made.error());
    *file = reinterpret_cast<mirlet_audio_file*>(made->release());
    return {};
  });
}

int finish(mirlet_audio_file* file, mirlet_reason* why) noexcept {
  const int status = guard(why, [&] { return unwrap(file)->finish(); });
  quietly([&] { delete unwrap(file); });
  return status;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_file_module* mirlet_ffmpeg_entry() {
  static constexpr mirlet_file_module module{
      &create,
      [](mirlet_audio_file* file) noexcept { return mirlet_audio_sink{file, &M4aFile::take}; },
      [](const mirlet_audio_file* file) noexcept {
        return reinterpret_cast<const M4aFile*>(file)->failureDescriptor();
      },
      &finish,
      [](mirlet_audio_file* file) noexcept { quietly([&] { delete unwrap(file); }); },
  };
  return &module;
}
