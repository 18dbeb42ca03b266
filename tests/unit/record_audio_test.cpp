// The recording against a fake capture and file: what starts the file, what is dropped, and the
// stop's order. The start's failures are checked end to end.

#include <gtest/gtest.h>

#include <future>

#include "fakes/fake_platform.hpp"
#include "mirlet/audio/record_audio.hpp"

namespace mirlet::testing {
namespace {

// A capture and a file that write what they are asked into one log.
struct LoggingAudio final : AudioRecording {
  std::vector<std::string> calls;
  bool ready = true;
  SampleHandler* handler = nullptr;
  std::function<void()> completion;  // kept by finish for the test to run
  std::promise<void> finishing;      // kept when finish has run, on whatever thread

  struct Capture final : AudioCapture {
    LoggingAudio& log;
    explicit Capture(LoggingAudio& log) : log(log) {}
    Result<void> start(SampleHandler& handler, const std::string& label) override {
      log.calls.push_back("start " + label);
      log.handler = &handler;
      return {};
    }
    void stop() override { log.calls.push_back("stop"); }
  };
  struct File final : AudioFile {
    LoggingAudio& log;
    explicit File(LoggingAudio& log) : log(log) {}
    bool isReadyForMoreMediaData() const override { return log.ready; }
    void start(MediaTime time) override { log.calls.push_back("at " + std::to_string(time.value)); }
    bool append(const SampleBuffer& buffer) override {
      log.calls.push_back("append " + std::to_string(buffer.presentationTimeStamp.value));
      return true;
    }
    void finish(std::function<void()> done) override {
      log.calls.push_back("finish");
      log.completion = std::move(done);
      log.finishing.set_value();
    }
  };
  std::unique_ptr<AudioCapture> makeSystemAudioCapture(int rate, int channels) override {
    calls.push_back("capture " + std::to_string(rate) + " " + std::to_string(channels));
    return std::make_unique<Capture>(*this);
  }
  Result<std::unique_ptr<AudioFile>> makeAudioFile(const std::string& path,
                                                   const AudioOutputSettings& settings,
                                                   WriteFailureHandler) override {
    calls.push_back("file " + path + " " + std::to_string(settings.encoderBitRate));
    return std::make_unique<File>(*this);
  }
};

std::unique_ptr<Recording> start(FakePlatform& fakes, LoggingAudio& audio) {
  fakes.defaultScreen.content = Content{{}, {Display{7, {0, 0, 100, 100}, 100, 100}}};
  fakes.audioRecording = &audio;
  Platform platform = fakes.platform();
  auto recording = startRecording(platform, "out.m4a", Reporter{});
  EXPECT_TRUE(recording) << recording.error();
  return recording ? std::move(*recording) : nullptr;
}

SampleBuffer buffer(std::int64_t frame, bool valid = true) {
  return {valid, {frame, 48000}, 48000, 2, nullptr, 480};
}

TEST(RecordAudio, TheFileStartsAtTheFirstBufferItTakesAndOnlyThen) {
  FakePlatform fakes;
  LoggingAudio audio;
  const auto recording = start(fakes, audio);
  ASSERT_TRUE(recording);
  SampleHandler& handler = *audio.handler;
  handler.didOutputSampleBuffer(buffer(100, false));
  audio.ready = false;
  handler.didOutputSampleBuffer(buffer(200));  // lost: the file is busy
  audio.ready = true;
  handler.didOutputSampleBuffer(buffer(300));
  handler.didOutputSampleBuffer(buffer(780));
  const std::vector<std::string> expected = {"file out.m4a 128000", "capture 48000 2",
                                             "start omr.audio", "at 300", "append 300",
                                             "append 780"};
  EXPECT_EQ(audio.calls, expected);
}

TEST(RecordAudio, TheStopEndsTheCaptureThenReturnsOnceTheFileIsComplete) {
  FakePlatform fakes;
  LoggingAudio audio;
  auto recording = start(fakes, audio);
  ASSERT_TRUE(recording);
  auto stopped = std::async(std::launch::async, [&] { recording->stop(); });
  ASSERT_EQ(audio.finishing.get_future().wait_for(std::chrono::seconds(5)),
            std::future_status::ready);
  EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
      << "returned before the file was complete";
  const std::vector<std::string> tail(audio.calls.end() - 2, audio.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"stop", "finish"}));
  audio.completion();
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
}  // namespace mirlet::testing
