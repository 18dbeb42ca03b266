// The FFmpeg writer into real files, read back with ffprobe and ffmpeg.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

#include "fakes/fake_media.hpp"
#include "mirlet/platform/linux/ffmpeg/asset_writing.hpp"
#include "mirlet/platform/linux/ffmpeg/m4a_writer.hpp"

namespace mirlet::testing {
namespace {

constexpr std::int64_t kBufferFrames = 480;  // 10 ms, as the capture delivers them

struct WriterRig {
  std::unique_ptr<AssetWriter> writer;
  std::shared_ptr<AssetWriterInput> input;

  explicit WriterRig(const std::string& path) {
    auto made = ffmpeg::makeAssetWriting()->makeAssetWriter(path, FileType::appleM4A);
    if (!made) throw std::runtime_error(made.error().description);
    writer = std::move(*made);
    input = writer->addAudioInput(AudioOutputSettings{});
    input->setExpectsMediaDataInRealTime(true);
  }

  // Appends a tone from `fromFrame` for `frames` frames, waiting for the input as a patient
  // source would.
  void appendTone(std::int64_t fromFrame, std::int64_t frames, double hertz = 440) {
    for (std::int64_t at = fromFrame; at < fromFrame + frames; at += kBufferFrames) {
      ASSERT_TRUE(eventually([&] { return input->isReadyForMoreMediaData(); }));
      ASSERT_TRUE(input->appendSampleBuffer(audioBuffer(at, kBufferFrames, hertz)));
    }
  }

  void start(std::int64_t atFrame) {
    ASSERT_TRUE(writer->startWriting());
    writer->startSessionAtSourceTime(MediaTime{atFrame, 48000});
  }

  // Finishes and waits for the completion; how often it ran.
  int finish() {
    input->markAsFinished();
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    EXPECT_FALSE(input->appendSampleBuffer(audioBuffer(0))) << "taken after markAsFinished";
    auto completions = std::make_shared<std::atomic<int>>(0);
    std::promise<void> done;
    writer->finishWriting([&done, completions] {
      if (completions->fetch_add(1) == 0) done.set_value();
    });
    if (done.get_future().wait_for(std::chrono::seconds(20)) != std::future_status::ready)
      return 0;
    writer.reset();  // joins the writer's thread: a second completion would have run by now
    return completions->load();
  }
};

TEST(BackendM4aWriter, TheFileCarriesAacLcStereoAt48kHz) {
  TempDir dir;
  WriterRig rig(dir / "tone.m4a");
  rig.start(96000);
  rig.appendTone(96000, 3 * 48000);
  EXPECT_EQ(rig.finish(), 1);

  const Probe probe = probeFile(dir / "tone.m4a");
  ASSERT_TRUE(probe.readable);
  EXPECT_EQ(probe.codec, "aac");
  EXPECT_EQ(probe.profile, "LC");
  EXPECT_EQ(probe.brand, "M4A ");
  EXPECT_EQ(probe.sampleRate, 48000);
  EXPECT_EQ(probe.channels, 2);
  EXPECT_NEAR(probe.duration, 3.0, 0.03);

  const auto left = decodeLeft(dir / "tone.m4a");
  EXPECT_NEAR(toneHertz(slice(left, 0.5, 2.5)), 440, 1);
  EXPECT_NEAR(levelDb(slice(left, 0.5, 2.5)), 20 * std::log10(0.5 / std::sqrt(2)), 0.5);
}

// A pure tone needs fewer bits than the encoder may spend; busy audio shows the rate it holds.
TEST(BackendM4aWriter, BusyAudioIsEncodedAt128kbps) {
  TempDir dir;
  WriterRig rig(dir / "noise.m4a");
  rig.start(0);
  std::uint32_t seed = 12345;
  for (std::int64_t at = 0; at < 4 * 48000; at += kBufferFrames) {
    auto samples = std::make_shared<std::vector<float>>(kBufferFrames * 2);
    for (float& sample : *samples) {
      seed = seed * 1664525u + 1013904223u;
      sample = static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) - 0.5f;
    }
    SampleBuffer buffer = audioBuffer(at, kBufferFrames);
    buffer.samples = samples;
    ASSERT_TRUE(eventually([&] { return rig.input->isReadyForMoreMediaData(); }));
    ASSERT_TRUE(rig.input->appendSampleBuffer(buffer));
  }
  EXPECT_EQ(rig.finish(), 1);
  const Probe probe = probeFile(dir / "noise.m4a");
  ASSERT_TRUE(probe.readable);
  EXPECT_NEAR(probe.bitRate, 128000, 12000);
}

TEST(BackendM4aWriter, LostAudioLeavesSilenceOfItsLength) {
  TempDir dir;
  WriterRig rig(dir / "gap.m4a");
  rig.start(0);
  rig.appendTone(0, 48000);
  rig.appendTone(2 * 48000, 48000);  // the second second never came
  EXPECT_EQ(rig.finish(), 1);

  EXPECT_NEAR(probeFile(dir / "gap.m4a").duration, 3.0, 0.03);
  const auto left = decodeLeft(dir / "gap.m4a");
  EXPECT_NEAR(toneHertz(slice(left, 0.2, 0.8)), 440, 2);
  EXPECT_LT(levelDb(slice(left, 1.1, 1.9)), -60);
  EXPECT_NEAR(toneHertz(slice(left, 2.2, 2.8)), 440, 2);
}

TEST(BackendM4aWriter, AWriterThatNeverStartedLeavesAValidEmptyFile) {
  TempDir dir;
  WriterRig rig(dir / "empty.m4a");
  EXPECT_EQ(rig.finish(), 1);
  const Probe probe = probeFile(dir / "empty.m4a");
  EXPECT_TRUE(probe.readable);
  EXPECT_EQ(probe.codec, "aac");
  EXPECT_LE(probe.duration, 0.03);
}

TEST(BackendM4aWriter, AFileThatCannotBeCreatedIsAnErrorWithTheReason) {
  TempDir dir;
  auto made =
      ffmpeg::makeAssetWriting()->makeAssetWriter(dir / "missing/out.m4a", FileType::appleM4A);
  ASSERT_FALSE(made.has_value());
  EXPECT_NE(made.error().description.find("No such file or directory"), std::string::npos)
      << made.error().description;
}

TEST(BackendM4aWriter, AFullQueueMakesTheInputNotReadyInsteadOfWaiting) {
  TempDir dir;
  WriterRig rig(dir / "full.m4a");
  rig.start(0);
  // Far more than the queue holds, as fast as possible: the input must refuse some, never block.
  int refused = 0;
  for (std::int64_t at = 0; at < 60 * 48000; at += kBufferFrames) {
    if (!rig.input->isReadyForMoreMediaData()) ++refused;
    else rig.input->appendSampleBuffer(audioBuffer(at, kBufferFrames));
  }
  EXPECT_GT(refused, 0);
  EXPECT_EQ(rig.finish(), 1);
  // Whatever was refused is silence: the file still spans the whole minute (less the tail that
  // was refused at the very end).
  EXPECT_GT(probeFile(dir / "full.m4a").duration, 1.0);
}

TEST(BackendM4aWriter, AKilledRecordingKeepsAllButItsLastSecond) {
  TempDir dir;
  const std::string path = dir / "killed.m4a";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child records four seconds and is killed without any chance to finish.
    WriterRig rig(path);
    rig.start(0);
    for (std::int64_t at = 0; at < 4 * 48000; at += kBufferFrames) {
      while (!rig.input->isReadyForMoreMediaData()) usleep(1000);
      rig.input->appendSampleBuffer(audioBuffer(at, kBufferFrames));
    }
    // Let the encoder catch up with what was queued, as it does while a recording runs.
    usleep(500 * 1000);
    kill(getpid(), SIGKILL);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  const Probe probe = probeFile(path);
  EXPECT_EQ(probe.codec, "aac");
  EXPECT_GE(probe.duration, 3.0);
  const auto left = decodeLeft(path);
  EXPECT_GE(left.size(), 3u * 48000);
  EXPECT_NEAR(toneHertz(slice(left, 0.5, 2.5)), 440, 1);
}

}  // namespace
}  // namespace mirlet::testing
