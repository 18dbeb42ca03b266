#pragma once
// Fakes for recording audio (a capture and a file that log what they are asked), and the tools
// that read a recorded file back.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mirlet/platform/platform.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {

// A capture and a file that the test drives and reads by hand.
struct MediaLog {
  std::vector<std::string> calls;  // what was asked, in order
  std::vector<MediaTime> appended;
  bool ready = true;
  std::function<void()> completion;     // kept by finish for the test to run
  std::promise<void> finishing;         // kept when finish has run, on whatever thread
  WriteFailureHandler failed;           // kept by makeAudioFile
  std::optional<std::string> fileRefusal, startRefusal;
  SampleHandler* handler = nullptr;     // what the capture delivers to
};

class FakeAudioRecording final : public AudioRecording {
 public:
  std::shared_ptr<MediaLog> log = std::make_shared<MediaLog>();

  std::unique_ptr<AudioCapture> makeSystemAudioCapture(int rate, int channels) override {
    log->calls.push_back("capture " + std::to_string(rate) + " " + std::to_string(channels));
    return std::make_unique<Capture>(log);
  }
  Answer<std::unique_ptr<AudioFile>> makeAudioFile(const std::string& path,
                                                   const AudioOutputSettings& settings,
                                                   WriteFailureHandler failed) override {
    log->calls.push_back("file " + path + " " + std::to_string(settings.sampleRate) + " " +
                         std::to_string(settings.numberOfChannels) + " " +
                         std::to_string(settings.encoderBitRate));
    if (log->fileRefusal) return std::unexpected(*log->fileRefusal);
    log->failed = std::move(failed);
    return std::make_unique<File>(log);
  }

 private:
  struct Capture final : AudioCapture {
    explicit Capture(std::shared_ptr<MediaLog> log) : log(std::move(log)) {}
    Answer<void> start(SampleHandler& handler, const std::string& label) override {
      log->calls.push_back("start " + label);
      if (log->startRefusal) return std::unexpected(*log->startRefusal);
      log->handler = &handler;
      return {};
    }
    void stop() override { log->calls.push_back("stop"); }
    std::shared_ptr<MediaLog> log;
  };
  struct File final : AudioFile {
    explicit File(std::shared_ptr<MediaLog> log) : log(std::move(log)) {}
    bool isReadyForMoreMediaData() const override { return log->ready; }
    void start(MediaTime time) override {
      log->calls.push_back("startFile " + std::to_string(time.value));
    }
    bool append(const SampleBuffer& buffer) override {
      log->calls.push_back("append");
      log->appended.push_back(buffer.presentationTimeStamp);
      return true;
    }
    void finish(std::function<void()> completion) override {
      log->calls.push_back("finish");
      log->completion = std::move(completion);
      log->finishing.set_value();
    }
    std::shared_ptr<MediaLog> log;
  };
};

// A valid 48 kHz stereo buffer of silence at `frame`.
inline SampleBuffer audioBuffer(std::int64_t frame, std::int64_t frames = 480) {
  SampleBuffer buffer;
  buffer.isValid = true;
  buffer.presentationTimeStamp = MediaTime{frame, 48000};
  buffer.sampleRate = 48000;
  buffer.channelCount = 2;
  buffer.frameCount = frames;
  return buffer;
}

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

// Level in dB relative to full scale (a full-scale sine is -3 dB) of the part of `samples` at
// `hertz`: a tone of the wrong pitch, or none, reads far below its level.
inline double toneLevelDb(const std::vector<float>& samples, double hertz, int rate = 48000) {
  if (samples.empty()) return -200;
  // Goertzel: one bin of the discrete Fourier transform.
  const double coefficient = 2 * std::cos(2 * M_PI * hertz / rate);
  double previous = 0, beforePrevious = 0;
  for (float sample : samples) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  const double power = previous * previous + beforePrevious * beforePrevious -
                       coefficient * previous * beforePrevious;
  const double n = static_cast<double>(samples.size());
  return 10 * std::log10(2 * power / (n * n) + 1e-20);
}

// Plays a sine of `amplitude` (of full scale) into `sink`, the default output when empty, in the
// background, until the returned process is dropped.
inline Process playTone(const TempDir& dir, double hertz, double seconds, double amplitude = 0.5,
                        const std::string& sink = "") {
  const std::string wav = dir / ("tone-" + std::to_string(static_cast<int>(hertz)) + ".wav");
  const RunResult made = run({"sox", "-q", "-n", "-r", "48000", "-c", "2", "-b", "16", wav, "synth",
                              std::to_string(seconds), "sine", std::to_string(hertz), "vol",
                              std::to_string(amplitude)});
  if (made.status != 0) throw std::runtime_error("sox failed: " + made.err);
  testPulseServer();
  // A short latency keeps a null sink rendering in small blocks, as a real device does; enough of
  // it that a busy machine does not break the tone.
  std::vector<std::string> argv = {"paplay", "--latency-msec=100", wav};
  if (!sink.empty()) argv.insert(argv.begin() + 1, "--device=" + sink);
  return Process::start(argv);
}

}  // namespace mirlet::testing
