// The system-audio stream on the tests' private sound server.

#include <gtest/gtest.h>
#include <pthread.h>

#include <future>
#include <mutex>

#include "fakes/fake_media.hpp"
#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

namespace mirlet::testing {
namespace {

// Keeps what arrives, and where.
class CollectingOutput final : public StreamOutput {
 public:
  struct Arrival {
    SampleBuffer buffer;
    std::string thread;
  };
  void didOutputSampleBuffer(CaptureStream&, const SampleBuffer& buffer,
                             StreamOutputType type) override {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::lock_guard lock(mutex_);
    if (type == StreamOutputType::audio) arrivals_.push_back({buffer, name});
  }
  std::vector<Arrival> arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return arrivals_.size();
  }
  std::int64_t frames() const {
    std::lock_guard lock(mutex_);
    std::int64_t total = 0;
    for (const auto& arrival : arrivals_) total += static_cast<std::int64_t>(arrival.buffer.frameCount());
    return total;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Arrival> arrivals_;
};

StreamConfiguration audioConfiguration() {
  StreamConfiguration configuration;
  configuration.capturesAudio = true;
  configuration.sampleRate = 48000;
  configuration.channelCount = 2;
  return configuration;
}

// Calls `operation` with a completion and waits for it; counts how often it ran.
Result<void> completeOnce(const std::function<void(Completion<void>)>& operation, int& calls) {
  auto count = std::make_shared<std::atomic<int>>(0);
  auto promise = std::make_shared<std::promise<Result<void>>>();
  auto future = promise->get_future();
  operation([count, promise](Result<void> result) {
    if (count->fetch_add(1) == 0) promise->set_value(std::move(result));
  });
  if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
    return failure("no completion");
  // A second call would come from the same place, right after the first.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  calls = count->load();
  return future.get();
}

TEST(BackendPulseStream, DeliversWhatPlaysInOrderOnItsQueueWithContiguousTimes) {
  testPulseServer();
  auto output = std::make_shared<CollectingOutput>();
  auto stream = pulse::makeSystemAudioStream(audioConfiguration(), nullptr);
  ASSERT_TRUE(stream->addStreamOutput(output, StreamOutputType::audio, "omr.audio"));
  TempDir dir;
  Process tone = playTone(dir, 440, 30);
  int calls = 0;
  const auto started = std::chrono::steady_clock::now();
  const auto start = completeOnce([&](Completion<void> done) { stream->startCapture(done); }, calls);
  ASSERT_TRUE(start.has_value()) << start.error().description;
  EXPECT_EQ(calls, 1);
  ASSERT_TRUE(eventually([&] { return output->count() > 0; }, std::chrono::seconds(2)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500))
      << "the first audio came late";
  ASSERT_TRUE(eventually([&] { return output->frames() > 4 * 48000; }, std::chrono::seconds(10)));

  const auto stop = completeOnce([&](Completion<void> done) { stream->stopCapture(done); }, calls);
  EXPECT_TRUE(stop.has_value());
  EXPECT_EQ(calls, 1);
  const std::size_t atStop = output->count();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(output->count(), atStop) << "a buffer arrived after the stop completed";

  const auto arrivals = output->arrivals();
  std::vector<float> left;
  for (std::size_t i = 0; i < arrivals.size(); ++i) {
    const SampleBuffer& buffer = arrivals[i].buffer;
    ASSERT_EQ(arrivals[i].thread, "omr.audio");
    ASSERT_TRUE(buffer.isValid);
    ASSERT_EQ(buffer.sampleRate, 48000);
    ASSERT_EQ(buffer.channelCount, 2);
    ASSERT_EQ(buffer.presentationTimeStamp.timescale, 48000);
    // Small fragments, so that audio flows steadily (the first may carry the silence that an idle
    // output did not deliver).
    if (i > 0) {
      ASSERT_LE(buffer.frameCount(), 48000u / 10) << "buffer " << i;
    }
    if (i > 0) {
      const SampleBuffer& previous = arrivals[i - 1].buffer;
      ASSERT_EQ(buffer.presentationTimeStamp.value,
                previous.presentationTimeStamp.value +
                    static_cast<std::int64_t>(previous.frameCount()))
          << "buffer " << i;
    }
    for (std::size_t f = 0; f < buffer.frameCount(); ++f) left.push_back((*buffer.samples)[f * 2]);
  }
  // The tone is in there, at its pitch and level (sox's "vol 0.5" on a full-scale sine). An idle
  // null sink starts playing it only at its next block, up to two seconds late.
  const auto steady = slice(left, 2.5, 3.5);
  EXPECT_NEAR(toneHertz(steady), 440, 2);
  EXPECT_NEAR(levelDb(steady), 20 * std::log10(0.5 / std::sqrt(2)), 1);
}

TEST(BackendPulseStream, StartFailsWithTheServersOwnMessage) {
  testPulseServer();
  TempDir dir;
  const std::string saved = ::getenv("PULSE_SERVER");
  ::setenv("PULSE_SERVER", ("unix:" + dir / "no-such-socket").c_str(), 1);
  auto stream = pulse::makeSystemAudioStream(audioConfiguration(), nullptr);
  ASSERT_TRUE(stream->addStreamOutput(std::make_shared<CollectingOutput>(),
                                      StreamOutputType::audio, "omr.audio"));
  int calls = 0;
  const auto start = completeOnce([&](Completion<void> done) { stream->startCapture(done); }, calls);
  ::setenv("PULSE_SERVER", saved.c_str(), 1);
  ASSERT_FALSE(start.has_value());
  EXPECT_EQ(start.error().description, "Connection refused");
  EXPECT_EQ(calls, 1);
  const auto stop = completeOnce([&](Completion<void> done) { stream->stopCapture(done); }, calls);
  EXPECT_TRUE(stop.has_value());
  EXPECT_EQ(calls, 1);
}

TEST(BackendPulseStream, AStreamNeverStartedStopsAtOnce) {
  auto stream = pulse::makeSystemAudioStream(audioConfiguration(), nullptr);
  int calls = 0;
  EXPECT_TRUE(completeOnce([&](Completion<void> done) { stream->stopCapture(done); }, calls));
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace mirlet::testing
