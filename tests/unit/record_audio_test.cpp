// The `audio` command against fakes: the start sequence and its failures, the recording line, and
// the stop from a signal to "stopped".

#include <gtest/gtest.h>

#include <csignal>

#include "fakes/fake_media.hpp"
#include "fakes/fake_platform.hpp"
#include "fakes/recording_output.hpp"
#include "mirlet/audio/record_audio.hpp"

namespace mirlet::testing {
namespace {

Display display(std::uint32_t id) {
  Display d;
  d.displayID = id;
  d.frame = Rect{0, 0, 1920, 1080};
  d.width = 1920;
  d.height = 1080;
  return d;
}

struct AudioRig {
  FakePlatform fakes;
  FakeCaptureService capture;
  FakeAssetWriting writing;
  ManualExecutor executor;
  RecordingOutput out;
  std::vector<std::string> journal;  // stream and writer calls of the stop, in order

  AudioRig() {
    capture.content = ShareableContent{{}, {display(7), display(9)}};
    fakes.captureService = &capture;
    fakes.assetWriting = &writing;
    fakes.executor = &executor;
    capture.stream->journal = &journal;
  }
  FakeRunLoop& runLoop() { return fakes.defaultRunLoop; }
  RecordingFileManager& files() { return fakes.defaultFileManager; }
  int start(const std::string& path) {
    Platform platform = fakes.platform();
    return endStatus([&] { recordAudio(platform, out, path); });
  }
};

TEST(RecordAudio, StartFailuresEndWithTheirReasonAndKeepWhatTheyShould) {
  struct Case {
    std::string name;
    std::function<void(AudioRig&)> arrange;
    std::string path;
    std::string reason;
    bool removed;
  };
  const std::vector<Case> cases = {
      {"query fails", [](AudioRig& r) { r.capture.content = failure("no X"); }, "a.m4a",
       "no_display\n", false},
      {"no display", [](AudioRig& r) { r.capture.content = ShareableContent{}; }, "a.m4a",
       "no_display\n", false},
      {"empty path", [](AudioRig&) {}, "", "start_capture_failed: the output path is empty\n",
       false},
      {"folder", [](AudioRig& r) { r.files().directories = {"music"}; }, "music",
       "start_capture_failed: music is a folder, not a file\n", false},
      {"no writer", [](AudioRig& r) { r.writing.refusal = "cannot create a.m4a: Permission denied"; },
       "a.m4a", "start_capture_failed: cannot create a.m4a: Permission denied\n", true},
      {"output refused", [](AudioRig& r) { r.capture.stream->addRefusal = "no audio here"; },
       "a.m4a", "start_capture_failed: no audio here\n", true},
      {"start refused", [](AudioRig& r) { r.capture.stream->startRefusal = "Connection refused"; },
       "a.m4a", "start_capture_failed: Connection refused\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioRig rig;
    c.arrange(rig);
    EXPECT_EQ(rig.start(c.path), 1);
    EXPECT_EQ(rig.out.standardOutput(), "");
    EXPECT_EQ(rig.out.standardError(), c.reason);
    EXPECT_EQ(!rig.files().removed.empty(), c.removed);
    EXPECT_TRUE(rig.runLoop().watchers.empty());
    EXPECT_TRUE(rig.executor.queued.empty());
  }
}

TEST(RecordAudio, StartsOnTheFirstDisplayWritesTheLineAndArmsTheStop) {
  AudioRig rig;
  EXPECT_EQ(rig.start("rel/\"q\"\\.m4a"), -1);
  EXPECT_EQ(rig.out.standardOutput(), "{\"ok\":true,\"recording\":\"rel/\\\"q\\\"\\\\.m4a\"}\n");
  EXPECT_EQ(rig.out.standardError(), "");

  // Access is asked for but its answer (false here) stops nothing.
  EXPECT_EQ(rig.fakes.defaultScreenAccess.requests, 1);
  EXPECT_EQ(rig.capture.queries, (std::vector<std::pair<bool, bool>>{{false, false}}));
  ASSERT_EQ(rig.capture.filters.size(), 1u);
  const ContentFilter& filter = rig.capture.filters[0];
  EXPECT_EQ(filter.kind, ContentFilter::Kind::displayExcludingApplications);
  EXPECT_EQ(filter.display.displayID, 7u);
  EXPECT_TRUE(filter.applications.empty());
  EXPECT_TRUE(filter.windows.empty());
  const StreamConfiguration& configuration = rig.capture.configurations.at(0);
  EXPECT_TRUE(configuration.capturesAudio);
  EXPECT_EQ(configuration.sampleRate, 48000);
  EXPECT_EQ(configuration.channelCount, 2);
  EXPECT_EQ(configuration.width, 2);
  EXPECT_EQ(configuration.height, 2);
  EXPECT_EQ(configuration.minimumFrameInterval, (MediaTime{1, 1}));
  EXPECT_EQ(rig.files().removed, std::vector<std::string>{"rel/\"q\"\\.m4a"});

  // The recorder is the stream's delegate and its one audio output, on "omr.audio".
  auto& stream = *rig.capture.stream;
  ASSERT_EQ(stream.outputs.size(), 1u);
  EXPECT_EQ(stream.outputs[0].second, StreamOutputType::audio);
  EXPECT_EQ(stream.labels, std::vector<std::string>{"omr.audio"});
  EXPECT_EQ(std::dynamic_pointer_cast<StreamDelegate>(stream.outputs[0].first), rig.capture.delegate);

  std::vector<int> watched;
  for (auto& [signal, handler] : rig.runLoop().watchers) watched.push_back(signal);
  EXPECT_EQ(watched, (std::vector<int>{SIGINT, SIGTERM}));
  EXPECT_EQ(rig.executor.queued.size(), 1u);  // the stop worker, waiting for a signal

  // Buffers now reach the writer through the recorder.
  stream.deliver(audioBuffer(960), StreamOutputType::audio);
  EXPECT_EQ(rig.writing.log->sessionStarts, (std::vector<MediaTime>{MediaTime{960, 48000}}));
}

TEST(RecordAudio, EachStopSignalStopsTheCaptureThenFinishesThenSaysStopped) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    AudioRig rig;
    rig.capture.stream->stopRefusal = "already gone";  // ignored: the file is finished anyway
    ASSERT_EQ(rig.start("a.m4a"), -1);
    rig.capture.stream->deliver(audioBuffer(0), StreamOutputType::audio);
    rig.writing.log->calls.clear();

    ASSERT_TRUE(rig.runLoop().deliver(signal));
    ASSERT_TRUE(rig.executor.runNext());  // the worker wakes and hands over to the stop task
    ASSERT_EQ(rig.executor.queued.size(), 1u);
    ASSERT_TRUE(rig.executor.runNext());  // the stop task
    EXPECT_EQ(rig.journal, (std::vector<std::string>{"startCapture", "stopCapture"}));
    EXPECT_EQ(rig.writing.log->calls,
              (std::vector<std::string>{"markAsFinished", "finishWriting"}));
    // Nothing is said before the file is complete.
    EXPECT_EQ(rig.out.standardError(), "");
    EXPECT_EQ(rig.out.status(), -1);

    EXPECT_EQ(endStatus(rig.writing.log->completion), 0);
    EXPECT_EQ(rig.out.standardError(), "stopped\n");
    EXPECT_EQ(rig.out.lines(), 1);
  }
}

TEST(RecordAudio, TwoQuickSignalsGiveOneStop) {
  AudioRig rig;
  ASSERT_EQ(rig.start("a.m4a"), -1);
  ASSERT_TRUE(rig.runLoop().deliver(SIGINT));
  ASSERT_TRUE(rig.runLoop().deliver(SIGTERM));
  while (rig.executor.runNext()) {
  }
  EXPECT_EQ(std::count(rig.journal.begin(), rig.journal.end(), "stopCapture"), 1);
  EXPECT_EQ(rig.writing.log->completionsKept, 1);
  EXPECT_EQ(endStatus(rig.writing.log->completion), 0);
  EXPECT_EQ(rig.out.standardError(), "stopped\n");
}

TEST(RecordAudio, AStopBeforeAnyBufferStillFinishesTheFile) {
  AudioRig rig;
  ASSERT_EQ(rig.start("a.m4a"), -1);
  ASSERT_TRUE(rig.runLoop().deliver(SIGTERM));
  while (rig.executor.runNext()) {
  }
  EXPECT_EQ(std::count(rig.writing.log->calls.begin(), rig.writing.log->calls.end(),
                       "startWriting"),
            0);
  ASSERT_EQ(rig.writing.log->completionsKept, 1);
  EXPECT_EQ(endStatus(rig.writing.log->completion), 0);
  EXPECT_EQ(rig.out.standardError(), "stopped\n");
}

}  // namespace
}  // namespace mirlet::testing
