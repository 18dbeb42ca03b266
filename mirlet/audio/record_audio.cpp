#include "mirlet/audio/record_audio.hpp"

#include <semaphore>

#include "mirlet/cli/json.hpp"
#include "mirlet/cli/permission.hpp"

namespace mirlet {
namespace {

constexpr const char* kSampleHandlerQueue = "omr.audio";
constexpr const char* kStartFailed = "start_capture_failed: ";

}  // namespace

std::expected<std::unique_ptr<Recording>, std::string> startRecording(Platform& platform,
                                                                     const std::string& path,
                                                                     FailRun fail) {
  (void)ensureScreenAccess(platform.screenAccess);

  const auto content = await<ShareableContent>([&](Completion<ShareableContent> done) {
    platform.captureService.getShareableContent(false, false, std::move(done));
  });
  if (!content || content->displays.empty()) return std::unexpected("no_display");

  // Audio that cannot be written is lost: the recording ends at once, and says why.
  auto recorder = AudioRecorder::make(
      platform.audioRecording, platform.fileManager, path,
      [fail = std::move(fail)](const std::string& reason) { fail("write_failed: " + reason); });
  if (!recorder) return std::unexpected(kStartFailed + recorder.error().description);

  auto capture = platform.audioRecording.makeSystemAudioCapture(48000, 2);
  if (auto started = capture->start(**recorder, kSampleHandlerQueue); !started)
    return std::unexpected(kStartFailed + started.error().description);
  return std::make_unique<Recording>(std::move(capture), std::move(*recorder));
}

void Recording::stop() {
  // No buffer is delivered after this, so the file can close.
  capture_->stop();
  std::binary_semaphore complete(0);
  recorder_->finish([&complete] { complete.release(); });
  complete.acquire();
}

std::string recordingLine(const std::string& path) {
  return "{\"ok\":true,\"recording\":\"" + jsonStringBody(path) + "\"}";
}

}  // namespace mirlet
