#pragma once
// Recording what the machine plays: a capture that delivers into a recorder, which writes the
// file.

#include <cstdint>
#include <memory>
#include <string>

#include "mirlet/platform/result.hpp"

namespace mirlet {

// Captured audio on its way to the recorder: `frames` frames in the recording's format (the
// backend's one format for its capture and its file), or silence of that length when `samples` is
// null. Each call continues the one before on the recording's one clock, whose frame 0 is the
// moment the capture started. Called on the capture's thread; it never waits.
struct AudioSink {
  void* context = nullptr;
  void (*audio)(void* context, const float* samples, std::int64_t frames) = nullptr;
};

// The recording's file, written as the audio comes, on a thread of its own.
class AudioRecorder {
 public:
  // A recorder dropped without `finish` removes its file: its recording never ran.
  virtual ~AudioRecorder() = default;
  virtual AudioSink sink() = 0;
  // Becomes readable (poll) as soon as the file cannot be written any more: a full disk, an I/O
  // error, the file removed.
  virtual int failureDescriptor() const = 0;
  // No audio follows. Returns once the file is complete; or why it could not be written, the file
  // then ending at its last complete fragment, readable.
  virtual Result<void> finish() = 0;
};

// What the machine plays: whatever output is the default at each moment, with silence for the
// moments that no output can be heard. Dropping it ends the capture, the audio up to then
// delivered; no delivery runs after that.
class AudioCapture {
 public:
  virtual ~AudioCapture() = default;
};

class AudioRecording {
 public:
  virtual ~AudioRecording() = default;
  // A recorder writing to `path` (relative to the working folder when relative), which replaces
  // what stands there; an empty path and a folder are refused before anything is removed.
  virtual Result<std::unique_ptr<AudioRecorder>> makeRecorder(const std::string& path) = 0;
  // Starts capturing into `sink`, on one thread named `threadName`: the capture once it runs, or
  // why it cannot, within a bounded wait.
  virtual Result<std::unique_ptr<AudioCapture>> startCapture(AudioSink sink,
                                                             const std::string& threadName) = 0;
};

}  // namespace mirlet
