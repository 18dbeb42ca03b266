// AudioRecorder against a fake writer: what starts the file, what is written, what is dropped,
// and how finishing completes.

#include <gtest/gtest.h>

#include "fakes/fake_media.hpp"
#include "fakes/fake_platform.hpp"
#include "mirlet/audio/recorder.hpp"

namespace mirlet::testing {
namespace {

struct RecorderRig {
  FakeAssetWriting writing;
  RecordingFileManager files;
  FakeCaptureStream stream;
  std::shared_ptr<AudioRecorder> recorder;
  WriterLog& log = *writing.log;

  RecorderRig() {
    auto made = AudioRecorder::make(writing, files, "out.m4a");
    EXPECT_TRUE(made.has_value());
    if (made) recorder = *made;
    log.calls.clear();
  }
  void deliver(const SampleBuffer& buffer, StreamOutputType type = StreamOutputType::audio) {
    recorder->didOutputSampleBuffer(stream, buffer, type);
  }
};

TEST(Recorder, MakingRemovesTheOldFileThenMakesARealTimeAacInput) {
  FakeAssetWriting writing;
  RecordingFileManager files;
  std::vector<std::string> removedWhenWriterMade;
  writing.onMake = [&] { removedWhenWriterMade = files.removed; };
  auto made = AudioRecorder::make(writing, files, "dir/out.m4a");
  ASSERT_TRUE(made.has_value());
  EXPECT_EQ(files.removed, std::vector<std::string>{"dir/out.m4a"});
  EXPECT_EQ(removedWhenWriterMade, std::vector<std::string>{"dir/out.m4a"});
  EXPECT_EQ(writing.paths, std::vector<std::string>{"dir/out.m4a"});
  EXPECT_EQ(writing.log->calls, (std::vector<std::string>{"addAudioInput 48000 2 128000", "realTime"}));
}

TEST(Recorder, RefusesPathsThatAreNoFileBeforeRemovingAnything) {
  struct Case {
    std::string path;
    std::string description;
  };
  for (const Case& c : {Case{"", "the output path is empty"},
                        Case{"music", "music is a folder, not a file"}}) {
    SCOPED_TRACE(c.path);
    FakeAssetWriting writing;
    RecordingFileManager files;
    files.directories = {"music"};
    auto made = AudioRecorder::make(writing, files, c.path);
    ASSERT_FALSE(made.has_value());
    EXPECT_EQ(made.error().description, c.description);
    EXPECT_TRUE(files.removed.empty());
    EXPECT_TRUE(writing.paths.empty());
  }
}

TEST(Recorder, AWriterThatCannotBeMadeIsReportedAfterTheRemoval) {
  FakeAssetWriting writing;
  writing.refusal = "cannot create nowhere/out.m4a: No such file or directory";
  RecordingFileManager files;
  auto made = AudioRecorder::make(writing, files, "nowhere/out.m4a");
  ASSERT_FALSE(made.has_value());
  EXPECT_EQ(made.error().description, *writing.refusal);
  EXPECT_EQ(files.removed, std::vector<std::string>{"nowhere/out.m4a"});
}

TEST(Recorder, BuffersThatAreNotAudioOrNotValidChangeNothing) {
  RecorderRig rig;
  SampleBuffer invalid = audioBuffer(0);
  invalid.isValid = false;
  rig.deliver(audioBuffer(0), StreamOutputType::screen);
  rig.deliver(audioBuffer(0), StreamOutputType::microphone);
  rig.deliver(invalid);
  EXPECT_TRUE(rig.log.calls.empty());
}

TEST(Recorder, ABufferWhileNotReadyIsDroppedAndStartsNothing) {
  RecorderRig rig;
  rig.log.ready = false;
  rig.deliver(audioBuffer(100));
  EXPECT_TRUE(rig.log.calls.empty());

  rig.log.ready = true;
  rig.deliver(audioBuffer(580));
  rig.log.ready = false;
  rig.deliver(audioBuffer(1060));
  rig.log.ready = true;
  rig.deliver(audioBuffer(1540));
  EXPECT_EQ(rig.log.calls,
            (std::vector<std::string>{"startWriting", "startSession", "append", "append"}));
  EXPECT_EQ(rig.log.sessionStarts, (std::vector<MediaTime>{MediaTime{580, 48000}}));
  EXPECT_EQ(rig.log.appended, (std::vector<MediaTime>{{580, 48000}, {1540, 48000}}));
}

TEST(Recorder, TheWriterStartsOnceAtTheFirstAcceptedBuffersTime) {
  RecorderRig rig;
  for (int i = 0; i < 50; ++i) rig.deliver(audioBuffer(7000 + i * 480));
  EXPECT_EQ(std::count(rig.log.calls.begin(), rig.log.calls.end(), "startWriting"), 1);
  EXPECT_EQ(rig.log.calls.front(), "startWriting");
  EXPECT_EQ(rig.log.sessionStarts, (std::vector<MediaTime>{MediaTime{7000, 48000}}));
  EXPECT_EQ(rig.log.appended.size(), 50u);
}

TEST(Recorder, FinishReturnsFirstAndItsCompletionRunsOnceWithOrWithoutBuffers) {
  for (bool withBuffers : {true, false}) {
    SCOPED_TRACE(withBuffers ? "with buffers" : "without buffers");
    RecorderRig rig;
    if (withBuffers) rig.deliver(audioBuffer(0));
    rig.log.calls.clear();
    int completions = 0;
    rig.recorder->finish([&] { ++completions; });
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(rig.log.calls, (std::vector<std::string>{"markAsFinished", "finishWriting"}));
    ASSERT_EQ(rig.log.completionsKept, 1);
    rig.log.completion();
    EXPECT_EQ(completions, 1);
  }
}

}  // namespace
}  // namespace mirlet::testing
