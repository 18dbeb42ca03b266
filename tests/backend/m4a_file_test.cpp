// The recording's file through the FFmpeg module's entry points, read back with ffprobe and
// ffmpeg.

#include <gtest/gtest.h>
#include <poll.h>

#include "fakes/fake_media.hpp"
#include "mirlet/platform/linux/ffmpeg/audio_queue.hpp"
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
}

// What waits for the file's thread is bounded: a minute handed over while the thread is busy
// keeps its length, but only the first two seconds as copies.
TEST(BackendM4aFile, AFullQueueCountsTheRestAsSilence) {
  ffmpeg::AudioQueue queue;
  const std::vector<float> buffer(kBufferFrames * 2, 0.25f);
  EXPECT_FALSE(queue.add(buffer.data(), kBufferFrames)) << "one buffer is no batch yet";
  for (int i = 1; i < 600; ++i) queue.add(buffer.data(), kBufferFrames);
  EXPECT_TRUE(queue.add(nullptr, kBufferFrames));
  const auto batch = queue.take();
  std::int64_t audio = 0, silence = 0;
  for (const auto& piece : batch) {
    if (piece.samples.empty()) silence += piece.frames;
    else audio += piece.frames;
    EXPECT_EQ(piece.samples.size() % 2, 0u);
  }
  EXPECT_EQ(audio + silence, 601 * kBufferFrames) << "the recording lost length";
  EXPECT_LE(audio, 2 * 48000) << "the queue has no bound";
  EXPECT_GE(audio, 2 * 48000 - kBufferFrames);
  EXPECT_EQ(batch.back().frames, silence) << "silence after the bound comes last, in one piece";
  EXPECT_FALSE(queue.batchReady());
  EXPECT_TRUE(queue.take().empty());
}

// Removed while written, the file fails at once; removed just before the stop, the stop waits for
// the file's end and says so rather than succeed.
TEST(BackendM4aFile, AFileRemovedWhileWrittenFailsAtOnceAndSaysWhy) {
  for (const bool beforeTheStop : {false, true}) {
    SCOPED_TRACE(beforeTheStop ? "removed just before the stop" : "removed while written");
    TempDir dir;
    FileRig rig(dir / "gone.m4a");
    rig.append(1);
    ASSERT_EQ(run({"rm", dir / "gone.m4a"}).status, 0);
    if (!beforeTheStop) {
      // A second more: the file's thread looks once a quarter second.
      rig.append(1);
      EXPECT_TRUE(rig.failed(5s));
    }
    const auto finished = rig.recorder->finish();
    ASSERT_FALSE(finished);
    EXPECT_EQ(finished.error(), dir / "gone.m4a" + " was removed while it was written");
  }
}

}  // namespace
}  // namespace mirlet::testing
