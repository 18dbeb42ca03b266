#pragma once
// Fakes for recording audio: a capture service with one stream the test drives by hand, an asset
// writer that logs what it is asked, a queue of work the test runs by hand, and audio for them.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mirlet/platform/platform.hpp"
#include "support/harness.hpp"

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

// Reading back a recorded file with FFmpeg's own tools.

struct Probe {
  bool readable = false;
  std::string codec, profile, brand;
  int sampleRate = 0;
  int channels = 0;
  long bitRate = 0;
  double duration = -1;  // seconds; -1 when ffprobe names none
};

inline Probe probeFile(const std::string& path) {
  const RunResult result =
      run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
           "stream=codec_name,profile,sample_rate,channels,bit_rate:format=duration:format_tags="
           "major_brand",
           "-of", "default=noprint_wrappers=1", path});
  Probe probe;
  probe.readable = result.status == 0 && result.err.empty();
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (value == "N/A") continue;
    if (key == "codec_name") probe.codec = value;
    else if (key == "profile") probe.profile = value;
    else if (key == "TAG:major_brand") probe.brand = value;
    else if (key == "sample_rate") probe.sampleRate = std::stoi(value);
    else if (key == "channels") probe.channels = std::stoi(value);
    else if (key == "bit_rate") probe.bitRate = std::stol(value);
    else if (key == "duration") probe.duration = std::stod(value);
  }
  return probe;
}

// The left channel of the decoded file at 48 kHz; empty when it cannot be decoded.
inline std::vector<float> decodeLeft(const std::string& path) {
  const RunResult result = run({"ffmpeg", "-v", "error", "-i", path, "-f", "f32le", "-ac", "2",
                                "-ar", "48000", "-"},
                               {}, std::chrono::seconds(60));
  std::vector<float> left;
  if (result.status != 0) return left;
  const std::size_t frames = result.out.size() / (2 * sizeof(float));
  left.resize(frames);
  for (std::size_t i = 0; i < frames; ++i)
    std::memcpy(&left[i], result.out.data() + i * 2 * sizeof(float), sizeof(float));
  return left;
}

inline std::vector<float> slice(const std::vector<float>& samples, double fromSeconds,
                                double toSeconds, int rate = 48000) {
  const auto from = std::min(samples.size(), static_cast<std::size_t>(fromSeconds * rate));
  const auto to = std::min(samples.size(), static_cast<std::size_t>(toSeconds * rate));
  return std::vector<float>(samples.begin() + static_cast<long>(from),
                            samples.begin() + static_cast<long>(std::max(from, to)));
}

// The frequency of a steady tone, from its rising zero crossings.
inline double toneHertz(const std::vector<float>& samples, int rate = 48000) {
  std::vector<std::size_t> rising;
  for (std::size_t i = 1; i < samples.size(); ++i)
    if (samples[i - 1] < 0 && samples[i] >= 0) rising.push_back(i);
  if (rising.size() < 2) return 0;
  return static_cast<double>(rising.size() - 1) * rate /
         static_cast<double>(rising.back() - rising.front());
}

// Level in dB relative to full scale (a full-scale sine is -3 dB).
inline double levelDb(const std::vector<float>& samples) {
  if (samples.empty()) return -200;
  double sum = 0;
  for (float s : samples) sum += static_cast<double>(s) * s;
  return 10 * std::log10(sum / static_cast<double>(samples.size()) + 1e-20);
}

// Plays a sine of `amplitude` (of full scale) into the sound server's default output, in the
// background, until the returned process is dropped.
inline Process playTone(const TempDir& dir, double hertz, double seconds, double amplitude = 0.5) {
  const std::string wav = dir / ("tone-" + std::to_string(static_cast<int>(hertz)) + ".wav");
  const RunResult made = run({"sox", "-q", "-n", "-r", "48000", "-c", "2", "-b", "16", wav, "synth",
                              std::to_string(seconds), "sine", std::to_string(hertz), "vol",
                              std::to_string(amplitude)});
  if (made.status != 0) throw std::runtime_error("sox failed: " + made.err);
  testPulseServer();
  // A short latency keeps a null sink rendering in small blocks, as a real device does; enough of
  // it that a busy machine does not break the tone.
  return Process::start({"paplay", "--latency-msec=100", wav});
}

}  // namespace mirlet::testing
