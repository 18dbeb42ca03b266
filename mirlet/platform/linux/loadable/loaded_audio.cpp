#include "mirlet/platform/linux/loadable/loaded_audio.hpp"

#include "mirlet/platform/linux/loadable/module_loader.hpp"

#include <utility>

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

// The module's file, finished once or discarded.
class ModuleRecorder final : public AudioRecorder {
 public:
  ModuleRecorder(const mirlet_file_module& module, mirlet_audio_file* file)
      : module_(module), file_(file) {}
  ~ModuleRecorder() override {
    if (file_ != nullptr) module_.discard(file_);
  }

  AudioSink sink() override {
    const mirlet_audio_sink sink = module_.sink(file_);
    return {sink.context, sink.audio};
  }
  int failureDescriptor() const override { return module_.failure_fd(file_); }
  Result<void> finish() override {
    mirlet_reason why{};
    return ask(module_.finish(std::exchange(file_, nullptr), &why), why);
  }

 private:
  const mirlet_file_module& module_;
  mirlet_audio_file* file_;
};

class ModuleCapture final : public AudioCapture {
 public:
  ModuleCapture(const mirlet_capture_module& module, mirlet_capture* capture)
      : module_(module), capture_(capture) {}
  ~ModuleCapture() override { module_.stop(capture_); }

 private:
  const mirlet_capture_module& module_;
  mirlet_capture* capture_;
};

class ModuleAudioRecording final : public AudioRecording {
 public:
  ModuleAudioRecording(const mirlet_capture_module* capture, const mirlet_file_module* file)
      : capture_(capture), file_(file) {}

  Result<std::unique_ptr<AudioRecorder>> makeRecorder(const std::string& path) override {
    const auto module = table<FfmpegModule>(file_);
    if (!module) return failure(module.error());
    mirlet_audio_file* file = nullptr;
    mirlet_reason why{};
    if (auto made = ask((*module)->create(path.c_str(), &file, &why), why); !made)
      return failure(made.error());
    return std::make_unique<ModuleRecorder>(**module, file);
  }

  Result<std::unique_ptr<AudioCapture>> startCapture(AudioSink sink,
                                                     const std::string& threadName) override {
    const auto module = table<PulseCaptureModule>(capture_);
    if (!module) return failure(module.error());
    mirlet_capture* capture = nullptr;
    mirlet_reason why{};
    if (auto started = ask((*module)->start(threadName.c_str(), {sink.context, sink.audio},
                                            &capture, &why),
                           why);
        !started)
      return failure(started.error());
    return std::make_unique<ModuleCapture>(**module, capture);
  }

 private:
  // The table given, or else the module's, loaded now.
  template <class Module>
  static Result<const typename Module::Table*> table(const typename Module::Table* given) {
    if (given != nullptr) return given;
    return loadedModule<Module>();
  }

  const mirlet_capture_module* capture_;
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

std::unique_ptr<AudioRecording> makeAudioRecording(const mirlet_capture_module* capture,
                                                   const mirlet_file_module* file) {
  return std::make_unique<ModuleAudioRecording>(capture, file);
}

}  // namespace mirlet::loadable
