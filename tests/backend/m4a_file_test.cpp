// The recording's file through the FFmpeg module's entry points, read back with ffprobe and
// ffmpeg.

#include <gtest/gtest.h>
#include <poll.h>

#include "fakes/fake_media.hpp"
#include "mirlet/platform/linux/loadable/loaded_audio.hpp"

namespace mirlet::testing {
namespace {

constexpr std::int64_t kBufferFrames = 4800;  // 100 ms, as the capture delivers them

struct FileRig {
  std::unique_ptr<AudioRecording> recording =
      loadable::makeAudioRecording(nullptr, mirlet_ffmpeg_entry());
  std::unique_ptr<AudioRecorder> recorder;
  AudioSink sink;

  explicit FileRig(const std::string& path) {
    auto made = recording->makeRecorder(path);
    if (!made) throw std::runtime_error(made.error());
    recorder = std::move(*made);
    sink = recorder->sink();
  }

  // `seconds` of a 440 Hz sine at half scale, or of silence, as the capture gives them.
  void append(double seconds, bool tone = true) {
    std::vector<float> samples(kBufferFrames * 2);
    for (std::int64_t at = 0; at < seconds * 48000; at += kBufferFrames) {
      for (std::int64_t i = 0; i < kBufferFrames; ++i)
        samples[i * 2] = samples[i * 2 + 1] =
            static_cast<float>(0.5 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 48000));
      sink.audio(sink.context, tone ? samples.data() : nullptr, kBufferFrames);
    }
  }

  bool failed(std::chrono::milliseconds within) const {
    pollfd watched{recorder->failureDescriptor(), POLLIN, 0};
    return ::poll(&watched, 1, static_cast<int>(within.count())) == 1;
  }
};

// Audio and silence follow each other; what the file cannot take in time is counted as silence,
// so the file keeps the recording's length whatever was dropped.
TEST(BackendM4aFile, EveryFrameTakesItsPlaceAudioOrSilence) {
  TempDir dir;
  FileRig gaps(dir / "gaps.m4a");
  gaps.append(1);
  gaps.append(1, false);
  gaps.append(1);
  ASSERT_TRUE(gaps.recorder->finish());
  const Probe probe = probeFile(dir / "gaps.m4a");
  EXPECT_EQ(probe.format, "aac LC 48000 2 M4A ");
  EXPECT_NEAR(probe.duration, 3.0, 0.03);
  const auto left = decodeLeft(dir / "gaps.m4a");
  const double toneDb = 20 * std::log10(0.5 / std::sqrt(2));
  EXPECT_NEAR(toneLevelDb(slice(left, 0.2, 0.8), 440), toneDb, 0.5);
  EXPECT_LT(toneLevelDb(slice(left, 1.1, 1.9), 440), -60);
  EXPECT_NEAR(toneLevelDb(slice(left, 2.2, 2.8), 440), toneDb, 0.5);

  // A minute handed over at once: far more than the queue holds.
  FileRig flood(dir / "flood.m4a");
  flood.append(60);
  ASSERT_TRUE(flood.recorder->finish());
  EXPECT_NEAR(probeFile(dir / "flood.m4a").duration, 60.0, 0.03);
  EXPECT_LT(toneLevelDb(slice(decodeLeft(dir / "flood.m4a"), 58, 59), 440), -60)
      << "the queue took a whole minute: it has no bound";
}

TEST(BackendM4aFile, AFileRemovedWhileWrittenFailsAtOnceAndSaysWhy) {
  TempDir dir;
  FileRig rig(dir / "gone.m4a");
  rig.append(1);
  ASSERT_EQ(run({"rm", dir / "gone.m4a"}).status, 0);
  // A second more: the file's thread looks once a quarter second.
  rig.append(1);
  EXPECT_TRUE(rig.failed(5s));
  const auto finished = rig.recorder->finish();
  ASSERT_FALSE(finished);
  EXPECT_EQ(finished.error(), dir / "gone.m4a" + " was removed while it was written");
}

}  // namespace
}  // namespace mirlet::testing
