#pragma once
// Recording what the machine plays: a capture of the system's audio, and the file it goes into.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mirlet/platform/result.hpp"
#include "mirlet/platform/media_time.hpp"

namespace mirlet {

// Captured audio: `frameCount` interleaved 32-bit float frames of `channelCount` samples each,
// or silence of that length when `samples` is null. Valid only during the call that hands it
// over; whoever keeps it copies it.
struct SampleBuffer {
  bool isValid = false;
  MediaTime presentationTimeStamp;
  int sampleRate = 0;
  int channelCount = 0;
  const float* samples = nullptr;
  std::int64_t frameCount = 0;
};

class SampleHandler {
 public:
  virtual ~SampleHandler() = default;
  virtual void didOutputSampleBuffer(const SampleBuffer& buffer) = 0;
};

// What the machine plays, for as long as the capture runs: whatever output is the default at
// each moment, with silence for the moments that no output can be heard.
class AudioCapture {
 public:
  virtual ~AudioCapture() = default;
  // Starts delivering to `handler`, one buffer at a time and in order, on one thread that is
  // named `queueLabel`. Returns once the capture runs, or why it cannot, within a bounded wait.
  virtual Result<void> start(SampleHandler& handler, const std::string& queueLabel) = 0;
  // Ends the capture, the audio up to now delivered: when this returns no buffer is being
  // delivered, and none follows.
  virtual void stop() = 0;
};

// Encoder settings of an audio file, which always holds AAC.
struct AudioOutputSettings {
  int sampleRate = 48000;
  int numberOfChannels = 2;
  int encoderBitRate = 128000;
};

// One AAC track in an M4A file, written as the audio comes.
class AudioFile {
 public:
  virtual ~AudioFile() = default;
  // A live source's file: it never makes its caller wait, it reports not ready instead (while
  // its queue is full, and once it is finishing).
  virtual bool isReadyForMoreMediaData() const = 0;
  // Writing begins, and the file's timeline starts at `time`.
  virtual void start(MediaTime time) = 0;
  // Takes a copy of the buffer; false when it was not taken.
  virtual bool append(const SampleBuffer& buffer) = 0;
  // No buffer follows. Completes the file, then calls `completion` once, on any thread; also for
  // a file that never started, which is left valid and empty.
  virtual void finish(std::function<void()> completion) = 0;
};

// Called at most once, on any thread, with the system's reason, as soon as the file cannot be
// written any more (a full disk, an I/O error, the file removed). Nothing is written after it,
// what was written stays readable, and no completion follows.
using WriteFailureHandler = std::function<void(const std::string& reason)>;

class AudioRecording {
 public:
  virtual ~AudioRecording() = default;
  virtual std::unique_ptr<AudioCapture> makeSystemAudioCapture(int sampleRate,
                                                               int channelCount) = 0;
  // A file at `path` (relative to the working folder when relative), or why there is none.
  virtual Result<std::unique_ptr<AudioFile>> makeAudioFile(const std::string& path,
                                                           const AudioOutputSettings& settings,
                                                           WriteFailureHandler failed) = 0;
};

}  // namespace mirlet
