#include "mirlet/audio/recorder.hpp"

namespace mirlet {

Result<std::shared_ptr<AudioRecorder>> AudioRecorder::make(AssetWriting& assetWriting,
                                                           FileManager& fileManager,
                                                           const std::string& out) {
  // Replacing means removing whatever the path names: never a user's folder, nor the working
  // folder that an empty path would stand for.
  if (out.empty()) return failure("the output path is empty");
  if (fileManager.isDirectory(out)) return failure(out + " is a folder, not a file");
  fileManager.removeItem(out);
  auto writer = assetWriting.makeAssetWriter(out, FileType::appleM4A);
  if (!writer) return std::unexpected(writer.error());
  if (!*writer) return failure("no writer for " + out);
  auto input = (*writer)->addAudioInput(AudioOutputSettings{});
  if (!input) return failure("no audio input for " + out);
  input->setExpectsMediaDataInRealTime(true);
  return std::shared_ptr<AudioRecorder>(new AudioRecorder(std::move(*writer), std::move(input)));
}

void AudioRecorder::didOutputSampleBuffer(CaptureStream&, const SampleBuffer& buffer,
                                          StreamOutputType type) {
  if (type != StreamOutputType::audio) return;
  if (!buffer.isValid) return;
  // Not ready: the buffer is lost rather than waited for, and it starts nothing.
  if (!input_->isReadyForMoreMediaData()) return;
  if (!started_) {
    (void)writer_->startWriting();
    writer_->startSessionAtSourceTime(buffer.presentationTimeStamp);
    started_ = true;
  }
  (void)input_->appendSampleBuffer(buffer);
}

void AudioRecorder::finish(std::function<void()> completion) {
  input_->markAsFinished();
  writer_->finishWriting([completion = std::move(completion)] { completion(); });
}

}  // namespace mirlet
