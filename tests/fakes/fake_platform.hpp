#pragma once
// A Platform of fakes. Every piece starts as a refusing default; a test points the piece it cares
// about at a fake of its own.

#include <deque>
#include <functional>
#include <memory>
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
  int preflights = 0;
  int requests = 0;
  bool preflight() override {
    ++preflights;
    return allowed;
  }
  bool request() override {
    ++requests;
    if (grantOnRequest) allowed = true;
    return allowed;
  }
};

class FakeApplication final : public Application {
 public:
  int accessoryCalls = 0;
  void setAccessoryActivationPolicy() override { ++accessoryCalls; }
};

// Keeps posted tasks and watchers for the test to run by hand.
class FakeRunLoop final : public RunLoop {
 public:
  std::vector<int> held;
  std::deque<std::function<void()>> posted;
  std::vector<std::pair<int, std::function<void()>>> watchers;
  int runs = 0;
  void holdSignals(std::initializer_list<int> signals) override {
    held.insert(held.end(), signals.begin(), signals.end());
  }
  void run() override { ++runs; }
  void post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  void watchSignal(int signal, std::function<void()> handler) override {
    watchers.emplace_back(signal, std::move(handler));
  }
  // Delivers `signal` to every watcher of it; false when none watches it.
  bool deliver(int signal) {
    bool any = false;
    for (auto& [watched, handler] : watchers) {
      if (watched == signal) {
        handler();
        any = true;
      }
    }
    return any;
  }
};

// Runs work at once on the calling thread.
class InlineExecutor final : public TaskExecutor {
 public:
  int tasks = 0;
  void async(std::function<void()> work) override {
    ++tasks;
    work();
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

// A stop signal that has always come already.
class PendingStopSignals final : public StopSignals {
 public:
  int holds = 0, waits = 0;
  void hold() override { ++holds; }
  void wait() override { ++waits; }
};

// Records what was asked of the file system, like a disk that only answers.
class RecordingFileManager final : public FileManager {
 public:
  std::vector<std::string> directories;
  std::vector<std::string> removed;
  bool isDirectory(const std::string& path) override {
    for (const auto& directory : directories)
      if (directory == path) return true;
    return false;
  }
  void removeItem(const std::string& path) override { removed.push_back(path); }
};

class RefusingAudioDevices final : public AudioDevices {
 public:
  std::optional<bool> inputInUse() override { return std::nullopt; }
  std::optional<OutputDevice> defaultOutput() override { return std::nullopt; }
};

struct FakePlatform {
  FakeScreenAccess defaultScreenAccess;
  FakeApplication defaultApplication;
  FakeRunLoop defaultRunLoop;
  InlineExecutor defaultExecutor;
  ScriptedCaptureService defaultCaptureService;  // refuses the content query
  ScriptedImageOutput defaultImageOutput;        // refuses every write
  RefusingAudioRecording defaultAudioRecording;
  RecordingFileManager defaultFileManager;
  RefusingAudioDevices defaultAudioDevices;
  PendingStopSignals defaultStopSignals;

  ScreenAccess* screenAccess = &defaultScreenAccess;
  Application* application = &defaultApplication;
  RunLoop* runLoop = &defaultRunLoop;
  TaskExecutor* executor = &defaultExecutor;
  CaptureService* captureService = &defaultCaptureService;
  ImageOutput* imageOutput = &defaultImageOutput;
  AudioRecording* audioRecording = &defaultAudioRecording;
  FileManager* fileManager = &defaultFileManager;
  AudioDevices* audioDevices = &defaultAudioDevices;
  StopSignals* stopSignals = &defaultStopSignals;

  FakePlatform() { defaultCaptureService.content = failure("no capture service"); }

  Platform platform() {
    return Platform{*screenAccess,   *application, *runLoop,        *executor,
                    *captureService, *imageOutput, *audioRecording, *fileManager,
                    *audioDevices,   *stopSignals};
  }
};

}  // namespace mirlet::testing
