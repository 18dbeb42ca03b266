#include "mirlet/audio/recorder.hpp"

namespace mirlet {

Result<std::unique_ptr<AudioRecorder>> AudioRecorder::make(AudioRecording& recording,
                                                           FileManager& fileManager,
                                                           const std::string& out,
                                                           WriteFailureHandler failed) {
  // Replacing means removing whatever the path names: never a user's folder, nor the working
  // folder that an empty path would stand for.
  if (out.empty()) return failure("the output path is empty");
  if (fileManager.isDirectory(out)) return failure(out + " is a folder, not a file");
  fileManager.removeItem(out);
  auto file = recording.makeAudioFile(out, AudioOutputSettings{}, std::move(failed));
  if (!file) return failure(file.error());
  return std::unique_ptr<AudioRecorder>(new AudioRecorder(std::move(*file)));
}

void AudioRecorder::didOutputSampleBuffer(const SampleBuffer& buffer) {
  if (!buffer.isValid) return;
  // Not ready: the buffer is lost rather than waited for, and it starts nothing.
  if (!file_->isReadyForMoreMediaData()) return;
  if (!started_) {
    file_->start(buffer.presentationTimeStamp);
    started_ = true;
  }
  (void)file_->append(buffer);
}

void AudioRecorder::finish(std::function<void()> completion) {
  file_->finish(std::move(completion));
}

}  // namespace mirlet
