#pragma once
// A Platform of fakes. Every piece starts as a refusing default; a test points the piece it cares
// about at a fake of its own. All but the screen access and the screen serve only the recording's
// tests.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_capture.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet::testing {

class FakeScreenAccess final : public ScreenAccess {
 public:
  bool allowed = false;
  bool grantOnRequest = false;
  int requests = 0;
  bool preflight() override { return allowed; }
  bool request() override {
    ++requests;
    if (grantOnRequest) allowed = true;
    return allowed;
  }
};

// Keeps the recording's signal watchers for the test to run by hand.
class FakeRunLoop final : public RunLoop {
 public:
  std::vector<std::pair<int, std::function<void()>>> watchers;
  void holdSignals(std::initializer_list<int>) override {}
  void run() override {}
  void post(std::function<void()>) override {}
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
  void async(std::function<void()> work) override { work(); }
};

class RefusingAssetWriting final : public AssetWriting {
 public:
  Result<std::unique_ptr<AssetWriter>> makeAssetWriter(const std::string&, FileType) override {
    return failure("no asset writing");
  }
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

class RefusingAudioHardware final : public AudioHardware {
 public:
  OSStatus getPropertyDataSize(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                               const void*, std::uint32_t&) override {
    return -1;
  }
  OSStatus getPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                           const void*, std::uint32_t&, void*) override {
    return -1;
  }
};

// For the recording only: it has no displays.
class RefusingCaptureService final : public CaptureService {
 public:
  void getShareableContent(bool, bool, Completion<ShareableContent> completion) override {
    completion(failure("no capture service"));
  }
  std::shared_ptr<CaptureStream> makeStream(const ContentFilter&, const StreamConfiguration&,
                                            std::shared_ptr<StreamDelegate>) override {
    return nullptr;
  }
};

struct FakePlatform {
  FakeScreenAccess defaultScreenAccess;
  FakeScreen defaultScreen;  // lists nothing
  RefusingAudioHardware defaultAudioHardware;
  FakeRunLoop defaultRunLoop;
  InlineExecutor defaultExecutor;
  RefusingCaptureService defaultCaptureService;
  RefusingAssetWriting defaultAssetWriting;
  RecordingFileManager defaultFileManager;

  ScreenAccess* screenAccess = &defaultScreenAccess;
  ScreenCapture* screen = &defaultScreen;
  AudioHardware* audioHardware = &defaultAudioHardware;
  RunLoop* runLoop = &defaultRunLoop;
  TaskExecutor* executor = &defaultExecutor;
  CaptureService* captureService = &defaultCaptureService;
  AssetWriting* assetWriting = &defaultAssetWriting;
  FileManager* fileManager = &defaultFileManager;

  Platform platform() {
    return Platform{*screenAccess, *screen,       *audioHardware, *runLoop,
                    *executor,     *captureService, *assetWriting, *fileManager};
  }
};

}  // namespace mirlet::testing
