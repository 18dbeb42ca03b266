#pragma once
// Sound for the tests: a tone to play, and the tools that read a recorded file back.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/harness.hpp"

namespace mirlet::testing {

// What ffprobe reads of a recorded file: its audio format as "codec profile rate channels brand"
// ("aac LC 48000 2 M4A " for mirlet's files), its duration in seconds (-1 when it names none)
// and bit rate; `readable` when it read the file without a complaint.
struct Probe {
  bool readable = false;
  std::string format;
  double duration = -1;
  long bitRate = 0;
};

inline Probe probeFile(const std::string& path) {
  const RunResult result =
      run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
           "stream=codec_name,profile,sample_rate,channels,bit_rate:format=duration:format_tags="
           "major_brand",
           "-of", "default=noprint_wrappers=1", path});
  std::map<std::string, std::string> values;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);)
    if (const auto equals = line.find('='); equals != std::string::npos)
      values[line.substr(0, equals)] = line.substr(equals + 1);
  const auto number = [&](const char* key) {
    const std::string& value = values[key];
    return value.empty() || value == "N/A" ? -1.0 : std::stod(value);
  };
  return {result.status == 0 && result.err.empty(),
          values["codec_name"] + " " + values["profile"] + " " + values["sample_rate"] + " " +
              values["channels"] + " " + values["TAG:major_brand"],
          number("duration"), static_cast<long>(number("bit_rate"))};
}

// Whether the file is whole MP4 boxes from end to end: a reader refuses a file whose last box is
// cut short inside its index.
inline bool wholeBoxes(const std::string& path) {
  const std::string bytes = readFile(path);
  std::size_t at = 0;
  while (at + 8 <= bytes.size()) {
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) size = size << 8 | static_cast<unsigned char>(bytes[at + i]);
    if (size < 8) return false;
    at += size;
  }
  return at == bytes.size();
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
