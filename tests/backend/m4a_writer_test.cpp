// The M4A file through the FFmpeg module's entry points, read back with ffprobe and ffmpeg.

#include <gtest/gtest.h>

#include <future>

#include "fakes/fake_media.hpp"
#include "mirlet/platform/linux/loadable/loaded_audio.hpp"

namespace mirlet::testing {
namespace {

constexpr std::int64_t kBufferFrames = 4800;  // 100 ms, as the capture delivers them

// 48 kHz stereo at `frame`: `samples`, or silence.
SampleBuffer audioBuffer(std::int64_t frame, const float* samples = nullptr) {
  return {true, {frame, 48000}, 48000, 2, samples, kBufferFrames};
}

struct FileRig {
  std::unique_ptr<AudioRecording> recording =
      loadable::makeAudioRecording(nullptr, mirlet_ffmpeg_entry());
  std::unique_ptr<AudioFile> file;
  std::promise<std::string> failure;

  explicit FileRig(const std::string& path) {
    auto made = recording->makeAudioFile(path, AudioOutputSettings{}, [this](const std::string& r) {
      failure.set_value(r);
    });
    if (!made) throw std::runtime_error(made.error());
    file = std::move(*made);
  }

  // `frames` frames from `fromFrame` of a sine, or of noise for `hertz` 0, taken as a patient
  // source gives them.
  void append(std::int64_t fromFrame, std::int64_t frames, double hertz = 440) {
    std::vector<float> samples(kBufferFrames * 2);
    std::uint32_t seed = 12345;
    for (std::int64_t at = fromFrame; at < fromFrame + frames; at += kBufferFrames) {
      for (std::int64_t i = 0; i < kBufferFrames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = static_cast<double>(at + i) / 48000;
        samples[i * 2] = samples[i * 2 + 1] =
            hertz > 0 ? static_cast<float>(0.5 * std::sin(2 * M_PI * hertz * t))
                      : static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) - 0.5f;
      }
      const SampleBuffer buffer = audioBuffer(at, samples.data());
      ASSERT_TRUE(eventually([&] { return file->isReadyForMoreMediaData(); }));
      ASSERT_TRUE(file->append(buffer));
    }
  }

  bool finish(std::chrono::seconds wait = std::chrono::seconds(20)) {
    std::promise<void> done;
    file->finish([&done] { done.set_value(); });
    EXPECT_FALSE(file->isReadyForMoreMediaData()) << "takes audio after finish";
    return done.get_future().wait_for(wait) == std::future_status::ready;
  }
};

TEST(BackendM4aWriter, AacLcAt128kbpsWithGapsAsSilence) {
  TempDir dir;
  FileRig tone(dir / "tone.m4a");
  tone.file->start(MediaTime{96000, 48000});
  tone.append(96000, 48000);
  tone.append(4 * 48000, 48000);  // the second second never came
  ASSERT_TRUE(tone.finish());
  const Probe probe = probeFile(dir / "tone.m4a");
  EXPECT_EQ(probe.format, "aac LC 48000 2 M4A ");
  EXPECT_NEAR(probe.duration, 3.0, 0.03);
  const auto left = decodeLeft(dir / "tone.m4a");
  const double toneDb = 20 * std::log10(0.5 / std::sqrt(2));
  EXPECT_NEAR(toneLevelDb(slice(left, 0.2, 0.8), 440), toneDb, 0.5);
  EXPECT_LT(toneLevelDb(slice(left, 1.1, 1.9), 440), -60);
  EXPECT_NEAR(toneLevelDb(slice(left, 2.2, 2.8), 440), toneDb, 0.5);

  // A pure tone needs fewer bits than the encoder may spend; busy audio shows the rate it holds.
  FileRig noise(dir / "noise.m4a");
  noise.file->start(MediaTime{0, 48000});
  noise.append(0, 4 * 48000, 0);
  ASSERT_TRUE(noise.finish());
  EXPECT_NEAR(probeFile(dir / "noise.m4a").bitRate, 128000, 12000);
}

TEST(BackendM4aWriter, AFullQueueMakesTheFileNotReadyInsteadOfWaiting) {
  TempDir dir;
  FileRig rig(dir / "full.m4a");
  rig.file->start(MediaTime{0, 48000});
  int refused = 0;
  for (std::int64_t at = 0; at < 60 * 48000; at += kBufferFrames) {
    if (!rig.file->isReadyForMoreMediaData()) ++refused;
    else rig.file->append(audioBuffer(at));
  }
  EXPECT_GT(refused, 0);
  ASSERT_TRUE(rig.finish());
}

TEST(BackendM4aWriter, AFileRemovedWhileWrittenFailsAtOnceAndNeverCompletes) {
  TempDir dir;
  FileRig rig(dir / "gone.m4a");
  rig.file->start(MediaTime{0, 48000});
  rig.append(0, 48000);
  ASSERT_EQ(run({"rm", dir / "gone.m4a"}).status, 0);
  auto failed = rig.failure.get_future();
  // A second more, taken or not: the writer looks once a quarter second.
  for (std::int64_t at = 48000; at < 2 * 48000; at += kBufferFrames)
    (void)rig.file->append(audioBuffer(at));
  ASSERT_EQ(failed.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(failed.get(), dir / "gone.m4a" + " was removed while it was written");
  EXPECT_FALSE(rig.file->isReadyForMoreMediaData());
  EXPECT_FALSE(rig.finish(std::chrono::seconds(1))) << "a failed file also completed";
}

}  // namespace
}  // namespace mirlet::testing
