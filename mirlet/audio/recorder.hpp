#pragma once
// Turns the audio buffers of a capture stream into one AAC track in an M4A file.

#include <functional>
#include <memory>
#include <string>

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/capture_stream.hpp"
#include "mirlet/platform/file_manager.hpp"

namespace mirlet {

class AudioRecorder final : public StreamOutput, public StreamDelegate {
 public:
  // A recorder for `out`, replacing what stood there. Refuses an empty path and a folder before
  // anything is removed; fails when no writer can be made for the path.
  static Result<std::shared_ptr<AudioRecorder>> make(AssetWriting& assetWriting,
                                                     FileManager& fileManager,
                                                     const std::string& out);

  // Only on the stream's sample handler queue.
  void didOutputSampleBuffer(CaptureStream& stream, const SampleBuffer& buffer,
                             StreamOutputType type) override;

  // Closes the file and returns at once; `completion` runs once, when the file is complete.
  void finish(std::function<void()> completion);
  // `failed` runs once, on any thread, with the reason, if the file cannot be written any more;
  // then no completion follows.
  void onWriteFailure(std::function<void(const std::string& reason)> failed) {
    writer_->setFailureHandler(std::move(failed));
  }

 private:
  AudioRecorder(std::unique_ptr<AssetWriter> writer, std::shared_ptr<AssetWriterInput> input)
      : writer_(std::move(writer)), input_(std::move(input)) {}

  std::unique_ptr<AssetWriter> writer_;
  std::shared_ptr<AssetWriterInput> input_;
  bool started_ = false;  // sample handler queue only
};

}  // namespace mirlet
