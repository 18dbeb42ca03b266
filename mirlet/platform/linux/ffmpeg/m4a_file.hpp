#pragma once
// The recording's file: one AAC-LC track in a fragmented M4A file. The capture's thread only
// queues copies of its audio; the file's own thread encodes them and writes each fragment as it
// closes, so that a killed recording keeps all but its last second, and a recording whose file
// cannot be written any more keeps everything up to its last complete fragment.

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mirlet/platform/linux/ffmpeg/audio_queue.hpp"
#include "mirlet/platform/linux/ffmpeg/handles.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet::ffmpeg {

class M4aFile {
 public:
  // Refuses an empty path and a folder before touching anything; then replaces what stands at
  // `path` with the file's header, and starts the file's thread.
  static Result<std::unique_ptr<M4aFile>> create(const std::string& path);
  // A file that was never finished is removed: its recording never ran.
  ~M4aFile();

  // The capture's sink (`file` is the M4aFile): copies the audio, or counts it as silence when
  // `samples` is null or the queue is full. Never waits.
  static void take(void* file, const float* samples, std::int64_t frames) noexcept;
  // Readable once the file cannot be written any more.
  int failureDescriptor() const { return failed_; }
  // Writes what is queued, the last fragment and the index; the reason when the file could not be
  // written (the file then ends at its last complete fragment).
  Result<void> finish();

 private:
  explicit M4aFile(std::string path) : path_(std::move(path)) {}
  Result<void> openEncoder();
  Result<void> openFile();
  static int writeOut(void* file, std::uint8_t* data, int size);
  void run();
  void encode(const float* interleaved, std::int64_t frames);
  void encodePending(bool last);
  void writePackets();
  Result<void> written();
  Result<void> end();
  void fail(const std::string& reason);

  const std::string path_;
  int fd_ = -1;
  int failed_ = -1;  // eventfd, written once on failure
  bool finished_ = false;

  // The encoder and the muxer: set up by create, then the file's thread's alone.
  IoContext io_;
  OutputFormatContext format_;
  CodecContext codec_;
  AVStream* stream_ = nullptr;
  Frame frame_;
  Packet packet_;
  std::vector<std::vector<float>> pending_;  // one plane per channel, up to one codec frame
  std::int64_t pendingFrames_ = 0;
  std::int64_t nextPts_ = 0;
  int error_ = 0;               // the first of the encoder's and the muxer's errors
  std::int64_t bytes_ = 0;      // what reached the file
  std::int64_t committed_ = 0;  // where the last complete fragment (or the header) ends
  bool broken_ = false;         // the failure was told

  // Between the capture's thread and the file's thread.
  std::mutex mutex_;
  std::condition_variable wake_;
  AudioQueue queue_;
  bool closed_ = false;            // no audio is taken: finishing, or failed
  bool finishing_ = false;         // no audio will come: write the rest and end the file
  std::string failure_;
  std::thread thread_;
};

}  // namespace mirlet::ffmpeg
