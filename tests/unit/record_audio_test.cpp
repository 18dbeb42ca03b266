// The recording against fakes: what starts the file, what is dropped, the start's failures and
// the stop's order.

#include <gtest/gtest.h>

#include <future>

#include "fakes/fake_media.hpp"
#include "fakes/fake_platform.hpp"
#include "mirlet/audio/record_audio.hpp"

namespace mirlet::testing {
namespace {

struct Rig {
  FakePlatform fakes;
  FakeAudioRecording audio;
  MediaLog& log = *audio.log;
  std::vector<std::string> failures;

  Rig() {
    Display display;
    display.displayID = 7;
    fakes.defaultScreen.content = Content{{}, {display}};
    fakes.audioRecording = &audio;
  }
  std::expected<std::unique_ptr<Recording>, std::string> start(const std::string& path) {
    Platform platform = fakes.platform();
    return startRecording(platform, path,
                          Reporter{{}, {}, [this](const std::string& r) { failures.push_back(r); }});
  }
};

TEST(RecordAudio, TheFileStartsAtTheFirstBufferItTakesAndOnlyThen) {
  Rig rig;
  const auto recording = rig.start("out.m4a");
  ASSERT_TRUE(recording);
  SampleHandler& handler = *rig.log.handler;
  SampleBuffer invalid = audioBuffer(100);
  invalid.isValid = false;
  handler.didOutputSampleBuffer(invalid);
  rig.log.ready = false;
  handler.didOutputSampleBuffer(audioBuffer(200));  // lost: the file is busy
  rig.log.ready = true;
  handler.didOutputSampleBuffer(audioBuffer(300));
  handler.didOutputSampleBuffer(audioBuffer(780));
  const std::vector<std::string> expected = {
      "file out.m4a 48000 2 128000", "capture 48000 2", "start omr.audio", "startFile 300",
      "append", "append"};
  EXPECT_EQ(rig.log.calls, expected);
  EXPECT_EQ(rig.log.appended, (std::vector<MediaTime>{{300, 48000}, {780, 48000}}));
}

TEST(RecordAudio, StartFailuresGiveTheirReasonAndRemoveOnlyWhatTheyShould) {
  struct Case {
    std::string name;
    std::function<void(Rig&)> arrange;
    std::string path;
    std::string reason;
    std::vector<std::string> removed;
  };
  const std::vector<Case> cases = {
      {"no display", [](Rig& r) { r.fakes.defaultScreen.content = Content{}; },
       "a.m4a", "no_display", {}},
      {"no content", [](Rig& r) { r.fakes.defaultScreen.content = std::unexpected("no X"); },
       "a.m4a", "no_display", {}},
      {"an empty path", [](Rig&) {}, "", "start_capture_failed: the output path is empty", {}},
      {"a folder", [](Rig& r) { r.fakes.defaultFileManager.directories = {"music"}; }, "music",
       "start_capture_failed: music is a folder, not a file", {}},
      {"no file", [](Rig& r) { r.log.fileRefusal = "cannot create a.m4a: Permission denied"; },
       "a.m4a", "start_capture_failed: cannot create a.m4a: Permission denied", {"a.m4a"}},
      {"no capture", [](Rig& r) { r.log.startRefusal = "Connection refused"; }, "a.m4a",
       "start_capture_failed: Connection refused", {"a.m4a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    c.arrange(rig);
    const auto started = rig.start(c.path);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error(), c.reason);
    EXPECT_EQ(rig.fakes.defaultFileManager.removed, c.removed);
  }
}

TEST(RecordAudio, AWriteFailureEndsTheRunWithItsReason) {
  Rig rig;
  const auto recording = rig.start("out.m4a");
  ASSERT_TRUE(recording);
  rig.log.failed("No space left on device");
  EXPECT_EQ(rig.failures, std::vector<std::string>{"write_failed: No space left on device"});
}

TEST(RecordAudio, TheStopEndsTheCaptureThenReturnsOnceTheFileIsComplete) {
  Rig rig;
  auto recording = rig.start("out.m4a");
  ASSERT_TRUE(recording);
  auto stopped = std::async(std::launch::async, [&] { (*recording)->stop(); });
  ASSERT_EQ(rig.log.finishing.get_future().wait_for(std::chrono::seconds(5)),
            std::future_status::ready);
  EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
      << "returned before the file was complete";
  const std::vector<std::string> tail(rig.log.calls.end() - 2, rig.log.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"stop", "finish"}));
  rig.log.completion();
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
}  // namespace mirlet::testing
