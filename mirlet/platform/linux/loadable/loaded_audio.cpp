#include "mirlet/platform/linux/loadable/loaded_audio.hpp"

#include <array>

#include "mirlet/platform/linux/loadable/module_loader.hpp"

namespace mirlet::loadable {
namespace {

constexpr std::size_t kReasonSize = 512;

class ModuleCapture final : public AudioCapture {
 public:
  ModuleCapture(const PulseCaptureModule& module, int sampleRate, int channels)
      : module_(module),
        sampleRate_(sampleRate),
        channels_(channels),
        capture_(module.create(sampleRate, channels)) {}
  ~ModuleCapture() override {
    if (capture_ != nullptr) module_.destroy(capture_);
  }

  Answer<void> start(SampleHandler& handler, const std::string& queueLabel) override {
    if (capture_ == nullptr) return std::unexpected("cannot make a capture: out of memory");
    handler_ = &handler;
    std::array<char, kReasonSize> reason{};
    if (module_.start(capture_, queueLabel.c_str(), &ModuleCapture::deliver, this, reason.data(),
                      reason.size()) != 0)
      return std::unexpected(reason.data());
    return {};
  }

  void stop() override {
    if (capture_ != nullptr) module_.stop(capture_);
  }

 private:
  static void deliver(void* context, const float* samples, std::int64_t frames, std::int64_t time,
                      std::int32_t timescale) {
    auto& self = *static_cast<ModuleCapture*>(context);
    SampleBuffer buffer;
    buffer.isValid = true;
    buffer.presentationTimeStamp = MediaTime{time, timescale};
    buffer.sampleRate = self.sampleRate_;
    buffer.channelCount = self.channels_;
    buffer.samples = samples;
    buffer.frameCount = frames;
    self.handler_->didOutputSampleBuffer(buffer);
  }

  const PulseCaptureModule& module_;
  const int sampleRate_;
  const int channels_;
  mirlet_capture* capture_;
  SampleHandler* handler_ = nullptr;
};

class ModuleAudioFile final : public AudioFile {
 public:
  ModuleAudioFile(const FfmpegModule& module, WriteFailureHandler failed)
      : module_(module), failed_(std::move(failed)) {}
  ~ModuleAudioFile() override {
    if (file_ != nullptr) module_.destroy(file_);
  }

  Answer<void> create(const std::string& path, const AudioOutputSettings& settings) {
    if (settings.formatID != fourCharCode("aac "))
      return std::unexpected("unsupported audio format " + std::to_string(settings.formatID));
    std::array<char, kReasonSize> reason{};
    file_ = module_.create(path.c_str(), settings.sampleRate, settings.numberOfChannels,
                           settings.encoderBitRate, &ModuleAudioFile::onFailure, this,
                           reason.data(), reason.size());
    if (file_ == nullptr) return std::unexpected(reason.data());
    return {};
  }

  bool isReadyForMoreMediaData() const override { return module_.ready(file_) != 0; }
  void start(MediaTime time) override { module_.start(file_, time.value, time.timescale); }
  bool append(const SampleBuffer& buffer) override {
    if (!buffer.isValid) return false;
    return module_.append(file_, buffer.samples, buffer.frameCount, buffer.sampleRate,
                          buffer.channelCount, buffer.presentationTimeStamp.value,
                          buffer.presentationTimeStamp.timescale) != 0;
  }
  void finish(std::function<void()> completion) override {
    completion_ = std::move(completion);
    module_.finish(file_, &ModuleAudioFile::onDone, this);
  }

 private:
  static void onFailure(void* context, const char* reason) {
    auto& self = *static_cast<ModuleAudioFile*>(context);
    if (self.failed_) self.failed_(reason);
  }
  static void onDone(void* context) {
    auto& self = *static_cast<ModuleAudioFile*>(context);
    if (self.completion_) self.completion_();
  }

  const FfmpegModule& module_;
  WriteFailureHandler failed_;
  std::function<void()> completion_;
  mirlet_audio_file* file_ = nullptr;
};

class ModuleAudioRecording final : public AudioRecording {
 public:
  ModuleAudioRecording(const PulseCaptureModule* capture, const FfmpegModule* file)
      : capture_(capture), file_(file) {}

  std::unique_ptr<AudioCapture> makeSystemAudioCapture(int sampleRate, int channels) override {
    const auto module = captureModule();
    if (!module) return std::make_unique<MissingCapture>(module.error().description);
    return std::make_unique<ModuleCapture>(**module, sampleRate, channels);
  }

  Answer<std::unique_ptr<AudioFile>> makeAudioFile(const std::string& path,
                                                   const AudioOutputSettings& settings,
                                                   WriteFailureHandler failed) override {
    const auto module = fileModule();
    if (!module) return std::unexpected(module.error().description);
    auto file = std::make_unique<ModuleAudioFile>(**module, std::move(failed));
    if (auto made = file->create(path, settings); !made) return std::unexpected(made.error());
    return file;
  }

 private:
  // Stands in for a capture whose module could not be loaded.
  class MissingCapture final : public AudioCapture {
   public:
    explicit MissingCapture(std::string error) : error_(std::move(error)) {}
    Answer<void> start(SampleHandler&, const std::string&) override {
      return std::unexpected(error_);
    }
    void stop() override {}

   private:
    std::string error_;
  };

  Result<const PulseCaptureModule*> captureModule() const {
    if (capture_ != nullptr) return capture_;
    return loadedModule<PulseCaptureModule>();
  }
  Result<const FfmpegModule*> fileModule() const {
    if (file_ != nullptr) return file_;
    return loadedModule<FfmpegModule>();
  }

  const PulseCaptureModule* capture_;
  const FfmpegModule* file_;
};

}  // namespace

std::unique_ptr<AudioRecording> makeLoadedAudioRecording() {
  return std::make_unique<ModuleAudioRecording>(nullptr, nullptr);
}

std::unique_ptr<AudioRecording> makeAudioRecording(const PulseCaptureModule* capture,
                                                   const FfmpegModule* file) {
  return std::make_unique<ModuleAudioRecording>(capture, file);
}

}  // namespace mirlet::loadable
