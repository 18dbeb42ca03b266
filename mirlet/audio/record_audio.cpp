#include "mirlet/audio/record_audio.hpp"

#include <csignal>
#include <memory>
#include <semaphore>

#include "mirlet/audio/recorder.hpp"
#include "mirlet/cli/json.hpp"
#include "mirlet/cli/permission.hpp"

namespace mirlet {
namespace {

constexpr const char* kSampleHandlerQueue = "omr.audio";
constexpr const char* kStartFailed = "start_capture_failed: ";

StreamConfiguration audioConfiguration() {
  StreamConfiguration configuration;
  configuration.capturesAudio = true;
  configuration.sampleRate = 48000;
  configuration.channelCount = 2;
  // The picture side is kept as small and as rare as the service allows.
  configuration.width = 2;
  configuration.height = 2;
  configuration.minimumFrameInterval = MediaTime{1, 1};
  return configuration;
}

// Stops the capture, completes the file, then says so and ends the process.
void stopRecording(const std::shared_ptr<CaptureStream>& stream,
                   const std::shared_ptr<AudioRecorder>& recorder, Output& out) {
  // A capture that fails to stop has stopped delivering all the same; the file still closes.
  (void)await<void>([&](Completion<void> done) { stream->stopCapture(std::move(done)); });
  recorder->finish([&out] {
    out.note("stopped\n");
    out.exit(0);
  });
}

}  // namespace

void recordAudio(Platform& platform, Output& out, const std::string& path) {
  (void)ensureScreenAccess(platform.screenAccess);

  const auto content = await<ShareableContent>([&](Completion<ShareableContent> done) {
    platform.captureService.getShareableContent(false, false, std::move(done));
  });
  if (!content || content->displays.empty()) out.fail("no_display");
  const ContentFilter filter =
      ContentFilter::displayExcludingApplications(content->displays.front(), {}, {});
  const StreamConfiguration configuration = audioConfiguration();

  auto made = AudioRecorder::make(platform.assetWriting, platform.fileManager, path);
  if (!made) out.fail(kStartFailed + made.error().description);
  std::shared_ptr<AudioRecorder> recorder = std::move(*made);
  // Audio that cannot be written is lost: the recording ends at once, and says why.
  recorder->onWriteFailure([&out](const std::string& reason) { out.fail("write_failed: " + reason); });

  std::shared_ptr<CaptureStream> stream =
      platform.captureService.makeStream(filter, configuration, recorder);
  if (!stream) out.fail(std::string(kStartFailed) + "no capture stream for the display");
  if (auto added = stream->addStreamOutput(recorder, StreamOutputType::audio, kSampleHandlerQueue);
      !added)
    out.fail(kStartFailed + added.error().description);
  if (auto started =
          await<void>([&](Completion<void> done) { stream->startCapture(std::move(done)); });
      !started)
    out.fail(kStartFailed + started.error().description);

  out.emit("{\"ok\":true,\"recording\":\"" + jsonStringBody(path) + "\"}");

  // SIGINT and SIGTERM have been held since start-up, so one that came early is pending and is
  // served as soon as the watchers are armed; a held signal never takes its default action, so
  // their disposition stays as it is.
  auto stopRequested = std::make_shared<std::counting_semaphore<>>(0);
  for (int signal : {SIGINT, SIGTERM})
    platform.runLoop.watchSignal(signal, [stopRequested] { stopRequested->release(); });

  TaskExecutor& executor = platform.executor;
  platform.executor.async([stopRequested, stream, recorder, &executor, &out] {
    stopRequested->acquire();
    executor.async([stream, recorder, &out] { stopRecording(stream, recorder, out); });
  });
}

}  // namespace mirlet
