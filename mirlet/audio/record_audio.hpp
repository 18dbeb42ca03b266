#pragma once

#include <expected>
#include <memory>
#include <string>

#include "mirlet/audio/recorder.hpp"
#include "mirlet/cli/command_result.hpp"
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

// Starts recording what the machine plays into `path`: the running recording, or the failure
// reason. Should the file fail later, `report.fail` is told why, at once.
Result<std::unique_ptr<Recording>> startRecording(Platform& platform,
                                                                     const std::string& path,
                                                                     const Reporter& report);

// `audio`: starts the recording, writes its line, waits for SIGINT or SIGTERM (held since the
// process began), completes the file and notes "stopped". The reason when it could not start.
CommandResult recordAudio(Platform& platform, const std::string& path, const Reporter& report);

}  // namespace mirlet
