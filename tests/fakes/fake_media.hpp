#pragma once
// Fakes for recording audio: a capture service with one stream the test drives by hand, an asset
// writer that logs what it is asked, a queue of work the test runs by hand, and audio for them.

#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mirlet/platform/platform.hpp"

namespace mirlet::testing {

// Interleaved stereo float frames of a sine, starting at phase zero at `firstFrame`.
inline std::shared_ptr<const std::vector<float>> sineFrames(std::int64_t firstFrame,
                                                           std::int64_t frames, double hertz,
                                                           double amplitude, int rate = 48000) {
  auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2);
  for (std::int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(firstFrame + i) / rate;
    const auto value = static_cast<float>(amplitude * std::sin(2 * M_PI * hertz * t));
    (*samples)[static_cast<std::size_t>(i) * 2] = value;
    (*samples)[static_cast<std::size_t>(i) * 2 + 1] = value;
  }
  return samples;
}

// A valid 48 kHz stereo buffer of `frames` frames at `frame` on a 48 kHz timeline.
inline SampleBuffer audioBuffer(std::int64_t frame, std::int64_t frames = 480,
                                double hertz = 440, double amplitude = 0.5) {
  SampleBuffer buffer;
  buffer.isValid = true;
  buffer.presentationTimeStamp = MediaTime{frame, 48000};
  buffer.sampleRate = 48000;
  buffer.channelCount = 2;
  buffer.samples = sineFrames(frame, frames, hertz, amplitude);
  return buffer;
}

// What was asked of a fake writer and its input, in order.
struct WriterLog {
  std::vector<std::string> calls;
  std::vector<MediaTime> sessionStarts;
  std::vector<MediaTime> appended;
  bool ready = true;
  std::function<void()> completion;  // kept by finishWriting for the test to run
  int completionsKept = 0;
};

class FakeWriterInput final : public AssetWriterInput {
 public:
  explicit FakeWriterInput(std::shared_ptr<WriterLog> log) : log_(std::move(log)) {}
  void setExpectsMediaDataInRealTime(bool realTime) override {
    log_->calls.push_back(realTime ? "realTime" : "notRealTime");
  }
  bool isReadyForMoreMediaData() const override { return log_->ready; }
  bool appendSampleBuffer(const SampleBuffer& buffer) override {
    log_->calls.push_back("append");
    log_->appended.push_back(buffer.presentationTimeStamp);
    return true;
  }
  void markAsFinished() override { log_->calls.push_back("markAsFinished"); }

 private:
  std::shared_ptr<WriterLog> log_;
};

class FakeAssetWriter final : public AssetWriter {
 public:
  explicit FakeAssetWriter(std::shared_ptr<WriterLog> log) : log_(std::move(log)) {}
  std::shared_ptr<AssetWriterInput> addAudioInput(const AudioOutputSettings& settings) override {
    log_->calls.push_back("addAudioInput " + std::to_string(settings.sampleRate) + " " +
                          std::to_string(settings.numberOfChannels) + " " +
                          std::to_string(settings.encoderBitRate));
    return std::make_shared<FakeWriterInput>(log_);
  }
  bool startWriting() override {
    log_->calls.push_back("startWriting");
    return true;
  }
  void startSessionAtSourceTime(MediaTime sourceTime) override {
    log_->calls.push_back("startSession");
    log_->sessionStarts.push_back(sourceTime);
  }
  void finishWriting(std::function<void()> completion) override {
    log_->calls.push_back("finishWriting");
    log_->completion = std::move(completion);
    ++log_->completionsKept;
  }

 private:
  std::shared_ptr<WriterLog> log_;
};

class FakeAssetWriting final : public AssetWriting {
 public:
  std::shared_ptr<WriterLog> log = std::make_shared<WriterLog>();
  std::optional<std::string> refusal;  // the description of a failed creation
  std::vector<std::string> paths;
  std::function<void()> onMake;  // lets a test see what the disk looked like at this moment
  Result<std::unique_ptr<AssetWriter>> makeAssetWriter(const std::string& path,
                                                       FileType) override {
    paths.push_back(path);
    if (onMake) onMake();
    if (refusal) return failure(*refusal);
    return std::make_unique<FakeAssetWriter>(log);
  }
};

// A stream whose start and stop complete at once with the configured results.
class FakeCaptureStream final : public CaptureStream {
 public:
  std::optional<std::string> addRefusal;
  std::optional<std::string> startRefusal;
  std::optional<std::string> stopRefusal;
  std::vector<std::pair<std::shared_ptr<StreamOutput>, StreamOutputType>> outputs;
  std::vector<std::string> labels;
  std::vector<std::string>* journal = nullptr;  // shared with the writer's log when set

  Result<void> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                               const std::string& label) override {
    if (addRefusal) return failure(*addRefusal);
    outputs.emplace_back(std::move(output), type);
    labels.push_back(label);
    return {};
  }
  void startCapture(Completion<void> completion) override {
    note("startCapture");
    if (startRefusal) completion(failure(*startRefusal));
    else completion({});
  }
  void stopCapture(Completion<void> completion) override {
    note("stopCapture");
    if (stopRefusal) completion(failure(*stopRefusal));
    else completion({});
  }
  void deliver(const SampleBuffer& buffer, StreamOutputType type) {
    for (auto& [output, attachedType] : outputs) output->didOutputSampleBuffer(*this, buffer, type);
  }

 private:
  void note(const std::string& call) {
    if (journal) journal->push_back(call);
  }
};

class FakeCaptureService final : public CaptureService {
 public:
  Result<ShareableContent> content = ShareableContent{};
  std::vector<std::pair<bool, bool>> queries;
  std::vector<ContentFilter> filters;
  std::vector<StreamConfiguration> configurations;
  std::shared_ptr<StreamDelegate> delegate;
  std::shared_ptr<FakeCaptureStream> stream = std::make_shared<FakeCaptureStream>();

  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           Completion<ShareableContent> completion) override {
    queries.emplace_back(excludingDesktopWindows, onScreenWindowsOnly);
    completion(content);
  }
  void captureImage(const ContentFilter&, const StreamConfiguration&,
                    Completion<Image> completion) override {
    completion(failure("no pictures here"));
  }
  std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                            const StreamConfiguration& configuration,
                                            std::shared_ptr<StreamDelegate> streamDelegate) override {
    filters.push_back(filter);
    configurations.push_back(configuration);
    delegate = std::move(streamDelegate);
    return stream;
  }
};

// Keeps work for the test to run, one piece at a time, on the test's thread.
class ManualExecutor final : public TaskExecutor {
 public:
  std::deque<std::function<void()>> queued;
  void async(std::function<void()> work) override { queued.push_back(std::move(work)); }
  // Runs the oldest piece of work; false when there is none.
  bool runNext() {
    if (queued.empty()) return false;
    auto work = std::move(queued.front());
    queued.pop_front();
    work();
    return true;
  }
};

}  // namespace mirlet::testing
