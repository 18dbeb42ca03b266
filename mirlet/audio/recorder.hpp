#pragma once
// Turns the audio buffers of a capture into one AAC track in an M4A file.

#include <functional>
#include <memory>
#include <string>

#include "mirlet/platform/audio_recording.hpp"
#include "mirlet/platform/file_manager.hpp"

namespace mirlet {

class AudioRecorder final : public SampleHandler {
 public:
  // A recorder for `out`, replacing what stood there. Refuses an empty path and a folder before
  // anything is removed; fails when no file can be made at the path. `failed` is told if the file
  // cannot be written any more.
  static Result<std::unique_ptr<AudioRecorder>> make(AudioRecording& recording,
                                                     FileManager& fileManager,
                                                     const std::string& out,
                                                     WriteFailureHandler failed);

  // Only on the capture's sample handler queue.
  void didOutputSampleBuffer(const SampleBuffer& buffer) override;

  // Closes the file and returns at once; `completion` runs once, when the file is complete.
  void finish(std::function<void()> completion);

 private:
  explicit AudioRecorder(std::unique_ptr<AudioFile> file) : file_(std::move(file)) {}

  std::unique_ptr<AudioFile> file_;
  bool started_ = false;  // sample handler queue only
};

}  // namespace mirlet
