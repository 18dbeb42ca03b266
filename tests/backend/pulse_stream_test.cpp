// The capture of what the machine plays, through the PulseAudio module's entry points, on the
// tests' private sound server.

#include <gtest/gtest.h>
#include <pthread.h>

#include <mutex>
#include <set>

#include "fakes/fake_media.hpp"
#include "mirlet/platform/linux/loadable/loaded_audio.hpp"
#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

namespace mirlet::testing {
namespace {

// Keeps a copy of what arrives, and on which thread.
class Collector final : public SampleHandler {
 public:
  void didOutputSampleBuffer(const SampleBuffer& buffer) override {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::lock_guard lock(mutex_);
    threads.insert(name);
    if (!times.empty()) gaps += buffer.presentationTimeStamp.value != next;
    next = buffer.presentationTimeStamp.value + buffer.frameCount;
    times.push_back(buffer.presentationTimeStamp);
    for (std::int64_t f = 0; f < buffer.frameCount; ++f)
      left.push_back(buffer.samples ? buffer.samples[f * buffer.channelCount] : 0.0f);
  }
  std::size_t frames() const {
    std::lock_guard lock(mutex_);
    return left.size();
  }

  mutable std::mutex mutex_;
  std::set<std::string> threads;
  std::vector<MediaTime> times;
  std::vector<float> left;
  std::int64_t next = 0;
  int gaps = 0;
};

std::unique_ptr<AudioCapture> makeCapture() {
  return loadable::makeAudioRecording(pulse::captureModule(), nullptr)
      ->makeSystemAudioCapture(48000, 2);
}

TEST(BackendPulseStream, DeliversWhatPlaysInOrderOnItsQueueWithContiguousTimes) {
  testPulseServer();
  TempDir dir;
  Process tone = playTone(dir, 440, 30);
  Collector collector;
  auto capture = makeCapture();
  const auto started = std::chrono::steady_clock::now();
  const auto start = capture->start(collector, "omr.audio");
  ASSERT_TRUE(start.has_value()) << start.error();
  ASSERT_TRUE(eventually([&] { return collector.frames() > 0; }, std::chrono::seconds(2)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500))
      << "the first audio came late";
  ASSERT_TRUE(eventually([&] { return collector.frames() > 4 * 48000; }, std::chrono::seconds(10)));
  capture->stop();
  const std::size_t atStop = collector.frames();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(collector.frames(), atStop) << "audio arrived after the stop";

  EXPECT_EQ(collector.threads, std::set<std::string>{"omr.audio"});
  EXPECT_EQ(collector.gaps, 0);
  // The tone is in there, at its pitch and level (sox's "vol 0.5" on a full-scale sine). An idle
  // null sink starts playing it only at its next block, up to two seconds late.
  const auto steady = slice(collector.left, 2.5, 3.5);
  EXPECT_NEAR(toneLevelDb(steady, 440), 20 * std::log10(0.5 / std::sqrt(2)), 1);
}

}  // namespace
}  // namespace mirlet::testing
