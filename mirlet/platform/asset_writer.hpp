#pragma once
// Writing captured audio into a media file.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mirlet/platform/async.hpp"
#include "mirlet/platform/capture_stream.hpp"
#include "mirlet/platform/four_char_code.hpp"
#include "mirlet/platform/media_time.hpp"

namespace mirlet {

// Encoder settings of an audio input.
struct AudioOutputSettings {
  std::uint32_t formatID = fourCharCode("aac ");
  int sampleRate = 48000;
  int numberOfChannels = 2;
  int encoderBitRate = 128000;
};

class AssetWriterInput {
 public:
  virtual ~AssetWriterInput() = default;
  // A live source: the input never makes its caller wait; it reports not ready instead.
  virtual void setExpectsMediaDataInRealTime(bool realTime) = 0;
  virtual bool isReadyForMoreMediaData() const = 0;
  virtual bool appendSampleBuffer(const SampleBuffer& buffer) = 0;
  // No buffer follows; from here on the input reports not ready.
  virtual void markAsFinished() = 0;
};

class AssetWriter {
 public:
  virtual ~AssetWriter() = default;
  // Makes the writer's one audio input and adds it to the writer.
  virtual std::shared_ptr<AssetWriterInput> addAudioInput(const AudioOutputSettings& settings) = 0;
  virtual bool startWriting() = 0;
  // The file's timeline starts at `sourceTime`.
  virtual void startSessionAtSourceTime(MediaTime sourceTime) = 0;
  // Completes the file, then calls `completion` exactly once on any thread, also for a writer that
  // never started. A writer that failed calls its failure handler instead.
  virtual void finishWriting(std::function<void()> completion) = 0;
  // Called at most once, on any thread, when the file cannot be written any more (a full disk, an
  // I/O error, the file removed): with the system's reason, at once, and nothing is written after
  // it. What was written before stays readable.
  virtual void setFailureHandler(std::function<void(const std::string& reason)> handler) = 0;
};

enum class FileType { appleM4A };

class AssetWriting {
 public:
  virtual ~AssetWriting() = default;
  // A writer for the file at `path` (relative to the working folder when relative), or an error.
  virtual Result<std::unique_ptr<AssetWriter>> makeAssetWriter(const std::string& path,
                                                               FileType type) = 0;
};

}  // namespace mirlet
