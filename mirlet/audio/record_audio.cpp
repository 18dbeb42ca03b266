#include "mirlet/audio/record_audio.hpp"

#include <semaphore>

#include "mirlet/cli/json.hpp"
#include "mirlet/cli/permission.hpp"

namespace mirlet {
namespace {

constexpr const char* kSampleHandlerQueue = "omr.audio";
constexpr const char* kStartFailed = "start_capture_failed: ";

}  // namespace

Result<std::unique_ptr<Recording>> startRecording(Platform& platform,
                                                                     const std::string& path,
                                                                     const Reporter& report) {
  (void)ensureScreenAccess(platform.screenAccess);
  const auto displays = platform.screen.listDisplays();
  if (!displays || displays->empty()) return failure("no_display");

  // Audio that cannot be written is lost: the recording ends at once, and says why.
  auto recorder = AudioRecorder::make(
      platform.audioRecording, platform.fileManager, path,
      [fail = report.fail](const std::string& reason) { fail("write_failed: " + reason); });
  if (!recorder) return failure(kStartFailed + recorder.error());

  auto capture = platform.audioRecording.makeSystemAudioCapture(48000, 2);
  if (auto started = capture->start(**recorder, kSampleHandlerQueue); !started)
    return failure(kStartFailed + started.error());
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
  if (!recording) return failure(recording.error());
  report.line(JsonWriter(Solidus::asIs)
                  .beginObject()
                  .key("ok").value(true)
                  .key("recording").value(path)
                  .endObject()
                  .text());
  // A stop asked for during the start has waited, pending, and is taken here at once.
  platform.stopSignals.wait();
  (*recording)->stop();
  report.note("stopped\n");
  return lineWritten();
}

}  // namespace mirlet
