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
  std::unique_ptr<AudioCapture> makeSystemAudioCapture(int, int) override { return nullptr; }
  Result<std::unique_ptr<AudioFile>> makeAudioFile(const std::string&, const AudioOutputSettings&,
                                                   WriteFailureHandler) override {
    return failure("no audio files");
  }
};

// Records what was asked of the file system, like a disk that only answers.
class RecordingFileManager final : public FileManager {
 public:
  std::vector<std::string> directories;
  std::vector<std::string> removed;
  bool isDirectory(const std::string& path) override {
    return std::ranges::find(directories, path) != directories.end();
  }
  void removeItem(const std::string& path) override { removed.push_back(path); }
};

// A stop signal that has always come already.
class PendingStopSignals final : public StopSignals {
 public:
  void hold() override {}
  void wait() override {}
};

struct FakePlatform {
  FakeScreenAccess defaultScreenAccess;
  FakeScreen defaultScreen;  // lists nothing
  RefusingAudioDevices defaultAudioDevices;
  RefusingAudioRecording defaultAudioRecording;
  RecordingFileManager defaultFileManager;
  PendingStopSignals defaultStopSignals;

  ScreenAccess* screenAccess = &defaultScreenAccess;
  ScreenCapture* screen = &defaultScreen;
  AudioDevices* audioDevices = &defaultAudioDevices;
  AudioRecording* audioRecording = &defaultAudioRecording;

  Platform platform() {
    return Platform{*screenAccess,   *screen,           *audioDevices,
                    *audioRecording, defaultFileManager, defaultStopSignals};
  }
};

}  // namespace mirlet::testing
