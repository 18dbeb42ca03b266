#include "mirlet/audio/record_audio.hpp"

#include "mirlet/cli/json.hpp"
#include "mirlet/cli/permission.hpp"

namespace mirlet {
namespace {

// The capture's thread, on which the audio reaches the recorder.
constexpr const char* kCaptureThread = "omr.audio";
constexpr const char* kStartFailed = "start_capture_failed: ";

}  // namespace

CommandResult recordAudio(Platform& platform, const std::string& path, const Reporter& report) {
  (void)ensureScreenAccess(platform.screenAccess);
  const auto displays = platform.screen.listDisplays();
  if (!displays || displays->empty()) return failure("no_display");

  // The recorder comes first and goes last: the capture, dropped before it on every way out,
  // never delivers to a recorder that is gone.
  auto recorder = platform.audioRecording.makeRecorder(path);
  if (!recorder) return failure(kStartFailed + recorder.error());
  auto capture = platform.audioRecording.startCapture((*recorder)->sink(), kCaptureThread);
  if (!capture) return failure(kStartFailed + capture.error());
  report.line(JsonWriter(Solidus::asIs)
                  .beginObject()
                  .key("ok").value(true)
                  .key("recording").value(path)
                  .endObject()
                  .text());

  // One wait, after the line: for a stop asked for (also during the start: it has waited,
  // pending), or for a file that fails, whenever it failed.
  platform.stopSignals.wait((*recorder)->failureDescriptor());
  capture->reset();
  if (auto finished = (*recorder)->finish(); !finished)
    return failure("write_failed: " + finished.error());
  report.note("stopped\n");
  return lineWritten();
}

}  // namespace mirlet
