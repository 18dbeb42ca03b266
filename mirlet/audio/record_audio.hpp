#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <string>

#include "mirlet/audio/recorder.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// A recording that runs: the capture feeds the recorder on the "omr.audio" thread.
class Recording {
 public:
  Recording(std::unique_ptr<AudioCapture> capture, std::unique_ptr<AudioRecorder> recorder)
      : capture_(std::move(capture)), recorder_(std::move(recorder)) {}
  // Stops the capture and completes the file; returns once the file is complete.
  void stop();

 private:
  std::unique_ptr<AudioCapture> capture_;
  std::unique_ptr<AudioRecorder> recorder_;
};

// Ends the run with a failure reason; called from any thread.
using FailRun = std::function<void(const std::string& reason)>;

// `audio`, up to its line: starts recording what the machine plays into `path`. The running
// recording, or the failure reason. Should the file fail later, `fail` is told why, at once.
std::expected<std::unique_ptr<Recording>, std::string> startRecording(Platform& platform,
                                                                     const std::string& path,
                                                                     FailRun fail);

std::string recordingLine(const std::string& path);

}  // namespace mirlet
