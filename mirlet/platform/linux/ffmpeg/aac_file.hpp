#pragma once
// One AAC-LC track in an M4A file, written in fragments that each reach the disk as they close, so
// that a process killed mid-recording leaves all but its last fragment readable. Used from one
// thread at a time.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mirlet/platform/result.hpp"
#include "mirlet/platform/linux/ffmpeg/handles.hpp"

namespace mirlet::ffmpeg {

struct AacFileSettings {
  int sampleRate = 48000;
  int channels = 2;
  int bitRate = 128000;
  std::int64_t fragmentMicroseconds = 500000;
};

class AacFile {
 public:
  // Opens the encoder and creates the file at `path` (empty until `begin`).
  static Result<std::unique_ptr<AacFile>> create(const std::string& path,
                                                 const AacFileSettings& settings);

  // Writes the file's header.
  Result<void> begin();
  // Encodes interleaved float samples, `frames` frames of `channels` samples each.
  void append(const float* interleaved, std::int64_t frames);
  void appendSilence(std::int64_t frames);
  // Encodes what is pending, writes the last fragment and the index, and closes the file.
  Result<void> end();
  // Whether everything so far reached the file, and the file is still where it was made: a write
  // that failed (a full disk, an I/O error), or a file removed with its folder, which would take
  // every later write with it unseen. The reason is the system's own text.
  Result<void> check() const;

 private:
  AacFile() = default;
  void encodePending(bool last);
  void drainPackets();

  AacFileSettings settings_;
  std::string path_;
  OutputFormatContext format_;
  CodecContext codec_;
  AVStream* stream_ = nullptr;
  Frame frame_;
  Packet packet_;
  std::vector<std::vector<float>> pending_;  // one plane per channel, up to one codec frame
  std::int64_t pendingFrames_ = 0;
  std::int64_t nextPts_ = 0;
  bool begun_ = false;
  bool ended_ = false;
  int firstError_ = 0;
  dev_t device_ = 0;  // the file's identity once created
  ino_t inode_ = 0;
};

}  // namespace mirlet::ffmpeg
