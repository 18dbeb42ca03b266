#pragma once
// A Platform of fakes. Every piece starts as a refusing default; a test points the piece it cares
// about at a fake of its own.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_capture.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet::testing {

class FakeScreenAccess final : public ScreenAccess {
 public:
  bool allowed = false;
  bool grantOnRequest = false;
  bool preflight() override { return allowed; }
  bool request() override { return allowed = allowed || grantOnRequest; }
};

class RefusingAudioDevices final : public AudioDevices {
 public:
  Result<bool> inputInUse() override { return failure("no sound server"); }
  Result<std::optional<OutputDevice>> defaultOutput() override {
    return failure("no sound server");
  }
};

class RefusingAudioRecording final : public AudioRecording {
 public:
  Result<std::unique_ptr<AudioRecorder>> makeRecorder(const std::string&) override {
    return failure("no audio files");
  }
  Result<std::unique_ptr<AudioCapture>> startCapture(AudioSink, const std::string&) override {
    return failure("no sound server");
  }
};

// A stop signal that has always come already.
class PendingStopSignals final : public StopSignals {
 public:
  void hold() override {}
  void wait(int) override {}
};

struct FakePlatform {
  FakeScreenAccess defaultScreenAccess;
  FakeScreen defaultScreen;  // lists nothing
  RefusingAudioDevices defaultAudioDevices;
  RefusingAudioRecording defaultAudioRecording;
  PendingStopSignals defaultStopSignals;

  ScreenAccess* screenAccess = &defaultScreenAccess;
  ScreenCapture* screen = &defaultScreen;
  AudioDevices* audioDevices = &defaultAudioDevices;
  AudioRecording* audioRecording = &defaultAudioRecording;
  StopSignals* stopSignals = &defaultStopSignals;

  Platform platform() {
    return Platform{*screenAccess, *screen, *audioDevices, *audioRecording, *stopSignals};
  }
};

}  // namespace mirlet::testing
