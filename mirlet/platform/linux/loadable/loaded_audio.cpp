#include "mirlet/platform/linux/loadable/loaded_audio.hpp"

#include "mirlet/platform/linux/loadable/module_loader.hpp"

namespace mirlet::loadable {
namespace {

static_assert(MIRLET_TRANSPORT_UNKNOWN == static_cast<int>(Transport::unknown) &&
              MIRLET_TRANSPORT_VIRTUAL == static_cast<int>(Transport::virtualDevice));

Result<void> ask(int status, const mirlet_reason& why) {
  if (status == 0) return {};
  return failure(why.text);
}

class ModuleAudioDevices final : public AudioDevices {
 public:
  Result<bool> inputInUse() override {
    const auto& module = loadedModule<PulseModule>();
    if (!module) return failure(module.error());
    int inUse = 0;
    mirlet_reason why{};
    if (auto asked = ask((*module)->input_in_use(&inUse, &why), why); !asked)
      return failure(asked.error());
    return inUse != 0;
  }

  Result<std::optional<OutputDevice>> defaultOutput() override {
    const auto& module = loadedModule<PulseModule>();
    if (!module) return failure(module.error());
    std::optional<OutputDevice> found;
    const mirlet_output_sink sink{&found, [](void* context, const mirlet_output* output) {
                                    *static_cast<std::optional<OutputDevice>*>(context) =
                                        outputDevice(*output);
                                  }};
    mirlet_reason why{};
    if (auto asked = ask((*module)->default_output(&sink, &why), why); !asked)
      return failure(asked.error());
    return found;
  }
};

class ModuleCapture final : public AudioCapture {
 public:
  ModuleCapture(const mirlet_sound_module& module, int sampleRate, int channels)
      : module_(module), sampleRate_(sampleRate), channels_(channels) {}
  ~ModuleCapture() override {
    if (capture_ != nullptr) module_.capture_destroy(capture_);
  }

  Result<void> start(SampleHandler& handler, const std::string& queueLabel) override {
    if (capture_ != nullptr) return failure("the capture was already started");
    handler_ = &handler;
    mirlet_reason why{};
    const mirlet_audio_sink sink{this, &ModuleCapture::deliver};
    if (auto made = ask(module_.capture_create(sampleRate_, channels_, queueLabel.c_str(), sink,
                                               &capture_, &why),
                        why);
        !made)
      return made;
    return ask(module_.capture_start(capture_, &why), why);
  }

  void stop() override {
    if (capture_ != nullptr) module_.capture_stop(capture_);
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

  const mirlet_sound_module& module_;
  const int sampleRate_;
  const int channels_;
  mirlet_capture* capture_ = nullptr;
  SampleHandler* handler_ = nullptr;
};

class ModuleAudioFile final : public AudioFile {
 public:
  ModuleAudioFile(const mirlet_file_module& module, const AudioOutputSettings& settings,
                  WriteFailureHandler failed)
      : module_(module), settings_(settings), failed_(std::move(failed)) {}
  ~ModuleAudioFile() override {
    if (file_ != nullptr) module_.destroy(file_);
  }

  Result<void> create(const std::string& path) {
    mirlet_reason why{};
    const mirlet_reason_sink failed{this, &ModuleAudioFile::onFailure};
    return ask(module_.create(path.c_str(), settings_.sampleRate, settings_.numberOfChannels,
                              settings_.encoderBitRate, failed, &file_, &why),
               why);
  }

  bool isReadyForMoreMediaData() const override { return module_.ready(file_) != 0; }
  void start(MediaTime time) override { module_.start(file_, time.value, time.timescale); }
  bool append(const SampleBuffer& buffer) override {
    if (buffer.sampleRate != settings_.sampleRate ||
        buffer.channelCount != settings_.numberOfChannels)
      return false;
    mirlet_reason why{};
    return module_.append(file_, buffer.samples, buffer.frameCount,
                          buffer.presentationTimeStamp.value,
                          buffer.presentationTimeStamp.timescale, &why) == 0;
  }
  void finish(std::function<void()> completion) override {
    completion_ = std::move(completion);
    module_.finish(file_, mirlet_done_sink{this, &ModuleAudioFile::onDone});
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

  const mirlet_file_module& module_;
  const AudioOutputSettings settings_;
  WriteFailureHandler failed_;
  std::function<void()> completion_;
  mirlet_audio_file* file_ = nullptr;
};

// Stands in for a capture whose module could not be loaded.
class MissingCapture final : public AudioCapture {
 public:
  explicit MissingCapture(std::string reason) : reason_(std::move(reason)) {}
  Result<void> start(SampleHandler&, const std::string&) override { return failure(reason_); }
  void stop() override {}

 private:
  std::string reason_;
};

class ModuleAudioRecording final : public AudioRecording {
 public:
  ModuleAudioRecording(const mirlet_sound_module* sound, const mirlet_file_module* file)
      : sound_(sound), file_(file) {}

  std::unique_ptr<AudioCapture> makeSystemAudioCapture(int sampleRate, int channels) override {
    if (sound_ == nullptr) {
      const auto& module = loadedModule<PulseModule>();
      if (!module) return std::make_unique<MissingCapture>(module.error());
      sound_ = *module;
    }
    return std::make_unique<ModuleCapture>(*sound_, sampleRate, channels);
  }

  Result<std::unique_ptr<AudioFile>> makeAudioFile(const std::string& path,
                                                   const AudioOutputSettings& settings,
                                                   WriteFailureHandler failed) override {
    if (file_ == nullptr) {
      const auto& module = loadedModule<FfmpegModule>();
      if (!module) return failure(module.error());
      file_ = *module;
    }
    auto file = std::make_unique<ModuleAudioFile>(*file_, settings, std::move(failed));
    if (auto made = file->create(path); !made) return failure(made.error());
    return file;
  }

 private:
  const mirlet_sound_module* sound_;
  const mirlet_file_module* file_;
};

}  // namespace

OutputDevice outputDevice(const mirlet_output& output) {
  return {static_cast<Transport>(output.transport), std::string(output.name, output.name_length),
          output.headphones != 0};
}

std::unique_ptr<AudioDevices> makeAudioDevices() { return std::make_unique<ModuleAudioDevices>(); }

std::unique_ptr<AudioRecording> makeAudioRecording() {
  return std::make_unique<ModuleAudioRecording>(nullptr, nullptr);
}

std::unique_ptr<AudioRecording> makeAudioRecording(const mirlet_sound_module* sound,
                                                   const mirlet_file_module* file) {
  return std::make_unique<ModuleAudioRecording>(sound, file);
}

}  // namespace mirlet::loadable
