// The recording command against a fake capture and recorder that log what they are asked: the
// order of its steps, which ends each failure, and what is dropped on each way out.

#include <gtest/gtest.h>

#include "fakes/fake_platform.hpp"
#include "mirlet/audio/record_audio.hpp"

namespace mirlet::testing {
namespace {

struct LoggingAudio final : AudioRecording, StopSignals {
  std::vector<std::string> log;
  std::string recorderFails, captureFails, finishFails;

  struct Recorder final : AudioRecorder {
    LoggingAudio& audio;
    explicit Recorder(LoggingAudio& audio) : audio(audio) {}
    ~Recorder() override { audio.log.push_back("recorder dropped"); }
    AudioSink sink() override { return {&audio, nullptr}; }
    int failureDescriptor() const override { return 7; }
    Result<void> finish() override {
      audio.log.push_back("finish");
      if (!audio.finishFails.empty()) return failure(audio.finishFails);
      return {};
    }
  };
  struct Capture final : AudioCapture {
    LoggingAudio& audio;
    explicit Capture(LoggingAudio& audio) : audio(audio) {}
    ~Capture() override { audio.log.push_back("capture stopped"); }
  };

  Result<std::unique_ptr<AudioRecorder>> makeRecorder(const std::string& path) override {
    log.push_back("recorder " + path);
    if (!recorderFails.empty()) return failure(recorderFails);
    return std::make_unique<Recorder>(*this);
  }
  Result<std::unique_ptr<AudioCapture>> startCapture(AudioSink sink, const std::string&) override {
    log.push_back(sink.context == this ? "capture into the recorder" : "capture elsewhere");
    if (!captureFails.empty()) return failure(captureFails);
    return std::make_unique<Capture>(*this);
  }
  void hold() override {}
  void wait(int descriptor) override { log.push_back("wait " + std::to_string(descriptor)); }
};

TEST(RecordAudio, StartsInOrderWaitsOnceAfterTheLineAndEndsTheCaptureFirst) {
  struct Case {
    std::string name;
    std::string recorderFails, captureFails, finishFails;
    std::vector<std::string> log;
    CommandResult result;
  };
  const std::vector<std::string> started = {"recorder out.m4a", "capture into the recorder"};
  const auto then = [&](std::vector<std::string> rest) {
    rest.insert(rest.begin(), started.begin(), started.end());
    return rest;
  };
  const Case cases[] = {
      {"stopped", "", "", "",
       then({"line", "wait 7", "capture stopped", "finish", "note stopped\n", "recorder dropped"}),
       lineWritten()},
      {"the file fails", "", "", "No space left on device",
       then({"line", "wait 7", "capture stopped", "finish", "recorder dropped"}),
       failure("write_failed: No space left on device")},
      {"no capture", "", "Connection refused", "", then({"recorder dropped"}),
       failure("start_capture_failed: Connection refused")},
      {"no file", "out.m4a is a folder, not a file", "", "", {"recorder out.m4a"},
       failure("start_capture_failed: out.m4a is a folder, not a file")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform fakes;
    fakes.defaultScreen.content = Content{{}, {Display{7, {0, 0, 100, 100}, 100, 100}}};
    LoggingAudio audio;
    audio.recorderFails = c.recorderFails;
    audio.captureFails = c.captureFails;
    audio.finishFails = c.finishFails;
    fakes.audioRecording = &audio;
    fakes.stopSignals = &audio;
    Platform platform = fakes.platform();
    const Reporter report{[&](std::string_view note) { audio.log.push_back("note " + std::string(note)); },
                          [&](std::string_view) { audio.log.push_back("line"); }};
    EXPECT_EQ(recordAudio(platform, "out.m4a", report), c.result);
    EXPECT_EQ(audio.log, c.log);
  }
}

}  // namespace
}  // namespace mirlet::testing
