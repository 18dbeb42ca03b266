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
                                                                     const Reporter& report) {
  (void)ensureScreenAccess(platform.screenAccess);
  const auto content = platform.screen.listContent();
  if (!content || content->displays.empty()) return std::unexpected("no_display");

  // Audio that cannot be written is lost: the recording ends at once, and says why.
  auto recorder = AudioRecorder::make(
      platform.audioRecording, platform.fileManager, path,
      [fail = report.fail](const std::string& reason) { fail("write_failed: " + reason); });
  if (!recorder) return std::unexpected(kStartFailed + recorder.error());

  auto capture = platform.audioRecording.makeSystemAudioCapture(48000, 2);
  if (auto started = capture->start(**recorder, kSampleHandlerQueue); !started)
    return std::unexpected(kStartFailed + started.error());
  return std::make_unique<Recording>(std::move(capture), std::move(*recorder));
}

void Recording::stop() {
  // No buffer is delivered after this, so the file can close.
  capture_->stop();
  std::binary_semaphore complete(0);
  recorder_->finish([&complete] { complete.release(); });
  complete.acquire();
}

CommandResult recordAudio(Platform& platform, const std::string& path, const Reporter& report) {
  auto recording = startRecording(platform, path, report);
  if (!recording) return refuse(recording.error());
  report.line("{\"ok\":true,\"recording\":\"" + jsonStringBody(path) + "\"}");
  // A stop asked for during the start has waited, pending, and is taken here at once.
  platform.stopSignals.wait();
  (*recording)->stop();
  report.note("stopped\n");
  return lineWritten();
}

}  // namespace mirlet
