#include "mirlet/platform/linux/ffmpeg/m4a_file.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "mirlet/platform/linux/module.h"

namespace mirlet::ffmpeg {
namespace {

constexpr int kBitRate = 128000;
// Each fragment reaches the disk as it closes: a killed recording loses the fragment still open
// and what waits for the encoder, together under a second.
constexpr std::int64_t kFragmentMicroseconds = 500000;
static_assert(AudioQueue::kBatchFrames * 1'000'000 / MIRLET_RECORDING_RATE + kFragmentMicroseconds <
              1'000'000);
// Large enough for a whole fragment (about 8 kB), so that each goes out in one write.
constexpr int kWriteBufferBytes = 64 * 1024;

struct DictionaryOwner {
  AVDictionary* dictionary = nullptr;
  ~DictionaryOwner() { av_dict_free(&dictionary); }
};

std::string systemError(int error) { return std::strerror(error); }

}  // namespace

Result<std::unique_ptr<M4aFile>> M4aFile::create(const std::string& path) {
  // Replacing means removing whatever the path names: never a user's folder (nor the one a
  // symbolic link leads to), nor the working folder that an empty path would stand for.
  if (path.empty()) return failure("the output path is empty");
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
    return failure(path + " is a folder, not a file");
  std::unique_ptr<M4aFile> file(new M4aFile(path));
  if (auto encoder = file->openEncoder(); !encoder) return failure(encoder.error());
  if (auto opened = file->openFile(); !opened) return failure(opened.error());
  file->thread_ = std::thread(&M4aFile::run, file.get());
  return file;
}

M4aFile::~M4aFile() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      closed_ = finishing_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  if (fd_ >= 0) {
    ::close(fd_);
    if (!finished_) (void)::unlink(path_.c_str());
  }
  if (failed_ >= 0) ::close(failed_);
}

Result<void> M4aFile::openEncoder() {
  // The libraries' own chatter (encoder statistics, warnings) must not reach the caller's
  // standard error; failures come back as results.
  av_log_set_level(AV_LOG_QUIET);
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (encoder == nullptr) return failure("no AAC encoder in this FFmpeg");
  codec_.reset(avcodec_alloc_context3(encoder));
  if (!codec_) return failure("cannot set up the AAC encoder: out of memory");
  AVCodecContext& codec = *codec_;
  codec.sample_fmt = AV_SAMPLE_FMT_FLTP;
  codec.sample_rate = MIRLET_RECORDING_RATE;
  av_channel_layout_default(&codec.ch_layout, MIRLET_RECORDING_CHANNELS);
  codec.bit_rate = kBitRate;
  codec.profile = FF_PROFILE_AAC_LOW;
  codec.time_base = AVRational{1, MIRLET_RECORDING_RATE};
  // MP4 keeps the decoder configuration in the sample description, not in the stream.
  codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // The fast coder spends half the CPU time of the default search at the same bit rate; for a
  // recorder that runs through whole meetings that matters more than the last bit of quality.
  DictionaryOwner options;
  av_dict_set(&options.dictionary, "aac_coder", "fast", 0);
  int status = avcodec_open2(&codec, encoder, &options.dictionary);
  if (status < 0) return failure("cannot open the AAC encoder: " + errorText(status));

  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_) return failure("cannot set up the encoder: out of memory");
  AVFrame& frame = *frame_;
  frame.format = codec.sample_fmt;
  frame.sample_rate = codec.sample_rate;
  frame.nb_samples = codec.frame_size;
  status = av_channel_layout_copy(&frame.ch_layout, &codec.ch_layout);
  if (status >= 0) status = av_frame_get_buffer(&frame, 0);
  if (status < 0) return failure("cannot set up the encoder: " + errorText(status));
  pending_.assign(MIRLET_RECORDING_CHANNELS,
                  std::vector<float>(static_cast<std::size_t>(codec.frame_size)));
  return {};
}

// The path is touched from here on; a file that fails now is removed by the destructor.
Result<void> M4aFile::openFile() {
  // Missing, refused or removed: the creation says what can be done at the path.
  (void)::unlink(path_.c_str());
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) return failure("cannot create " + path_ + ": " + systemError(errno));
  failed_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (failed_ < 0) return failure("cannot set up the file: " + systemError(errno));

  AVFormatContext* format = nullptr;
  int status = avformat_alloc_output_context2(&format, nullptr, "ipod", nullptr);
  if (status < 0 || format == nullptr)
    return failure("cannot set up an M4A file: " + errorText(status));
  format_.reset(format);
  stream_ = avformat_new_stream(format, nullptr);
  if (stream_ == nullptr) return failure("cannot add an audio track: out of memory");
  status = avcodec_parameters_from_context(stream_->codecpar, codec_.get());
  if (status < 0) return failure("cannot describe the audio track: " + errorText(status));
  stream_->time_base = codec_->time_base;
  // Written only forward, so that the file is always its header and whole fragments, plus at
  // most the one being written.
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kWriteBufferBytes));
  if (buffer == nullptr) return failure("cannot set up the file: out of memory");
  io_.reset(avio_alloc_context(buffer, kWriteBufferBytes, 1, this, nullptr, &M4aFile::writeOut,
                               nullptr));
  if (!io_) {
    av_free(buffer);
    return failure("cannot set up the file: out of memory");
  }
  format->pb = io_.get();
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  format->flush_packets = 1;

  // Fragments from the start, each one flushed as it closes. The header carries no sample table,
  // so it is final as soon as it is written, and a file of the header alone is a valid, empty one.
  DictionaryOwner options;
  av_dict_set(&options.dictionary, "movflags", "+empty_moov+default_base_moof", 0);
  av_dict_set_int(&options.dictionary, "frag_duration", kFragmentMicroseconds, 0);
  status = avformat_write_header(format, &options.dictionary);
  if (status >= 0) avio_flush(format->pb);
  if (status >= 0 && format->pb->error < 0) status = format->pb->error;
  if (status < 0) return failure("cannot write " + path_ + ": " + errorText(status));
  committed_ = bytes_;
  return {};
}

int M4aFile::writeOut(void* context, std::uint8_t* data, int size) {
  auto& self = *static_cast<M4aFile*>(context);
  int left = size;
  while (left > 0) {
    const ssize_t written = ::write(self.fd_, data, static_cast<std::size_t>(left));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return AVERROR(errno);
    self.bytes_ += written;
    data += written;
    left -= static_cast<int>(written);
  }
  return size;
}

void M4aFile::take(void* context, const float* samples, std::int64_t frames) noexcept {
  auto& self = *static_cast<M4aFile*>(context);
  std::lock_guard lock(self.mutex_);
  if (self.closed_) return;
  if (self.queue_.add(samples, frames)) self.wake_.notify_one();
}

Result<void> M4aFile::finish() {
  {
    std::lock_guard lock(mutex_);
    closed_ = finishing_ = true;
  }
  wake_.notify_one();
  thread_.join();
  finished_ = true;
  std::lock_guard lock(mutex_);
  if (!failure_.empty()) return failure(failure_);
  return {};
}

// The file's thread: every queued piece in order, the end of the file once finishing.
void M4aFile::run() {
  pthread_setname_np(pthread_self(), "mirlet.m4a");
  for (;;) {
    std::deque<AudioQueue::Piece> batch;
    bool last = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return queue_.batchReady() || finishing_; });
      batch = queue_.take();
      last = finishing_;
    }
    for (const AudioQueue::Piece& piece : batch) {
      if (broken_) break;
      if (piece.samples.empty()) encode(nullptr, piece.frames);
      else encode(piece.samples.data(), piece.frames);
    }
    // Looked at once a batch: a failure ends the recording within a quarter second.
    if (!broken_ && !batch.empty()) {
      if (auto ok = written(); !ok) fail(ok.error());
    }
    if (last) break;
  }
  if (!broken_) {
    if (auto ended = end(); !ended) fail(ended.error());
  }
}

void M4aFile::encode(const float* interleaved, std::int64_t frames) {
  const std::int64_t frameSize = codec_->frame_size;
  while (frames > 0) {
    const std::int64_t take = std::min(frames, frameSize - pendingFrames_);
    for (std::size_t c = 0; c < pending_.size(); ++c) {
      float* plane = pending_[c].data() + pendingFrames_;
      if (interleaved == nullptr) {
        std::fill_n(plane, take, 0.0f);
        continue;
      }
      for (std::int64_t i = 0; i < take; ++i)
        plane[i] = interleaved[i * MIRLET_RECORDING_CHANNELS + static_cast<std::int64_t>(c)];
    }
    pendingFrames_ += take;
    if (interleaved != nullptr) interleaved += take * MIRLET_RECORDING_CHANNELS;
    frames -= take;
    if (pendingFrames_ == frameSize) encodePending(false);
  }
}

void M4aFile::encodePending(bool last) {
  if (pendingFrames_ == 0) return;
  AVFrame& frame = *frame_;
  int status = av_frame_make_writable(&frame);
  if (status < 0) {
    if (error_ == 0) error_ = status;
    pendingFrames_ = 0;
    return;
  }
  std::int64_t frames = pendingFrames_;
  const bool shortAllowed = codec_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
  if (last && frames < codec_->frame_size && !shortAllowed) {
    for (auto& plane : pending_) std::fill(plane.begin() + frames, plane.end(), 0.0f);
    frames = codec_->frame_size;
  }
  frame.nb_samples = static_cast<int>(frames);
  for (std::size_t c = 0; c < pending_.size(); ++c)
    std::memcpy(frame.extended_data[c], pending_[c].data(),
                static_cast<std::size_t>(frames) * sizeof(float));
  frame.pts = nextPts_;
  nextPts_ += frames;
  pendingFrames_ = 0;
  status = avcodec_send_frame(codec_.get(), &frame);
  if (status < 0 && error_ == 0) error_ = status;
  writePackets();
}

void M4aFile::writePackets() {
  AVPacket& packet = *packet_;
  while (avcodec_receive_packet(codec_.get(), &packet) == 0) {
    av_packet_rescale_ts(&packet, codec_->time_base, stream_->time_base);
    packet.stream_index = stream_->index;
    // The muxer holds a fragment's packets until it closes, then writes it whole; with
    // flush_packets set, it has reached the file when this returns.
    const int status = av_write_frame(format_.get(), &packet);
    av_packet_unref(&packet);
    if (status < 0) {
      if (error_ == 0) error_ = status;
      return;
    }
    if (error_ == 0) committed_ = bytes_;
  }
}

// Whether everything so far reached the file, and the file is still there: a file removed with
// its folder would take every later write with it, unseen.
Result<void> M4aFile::written() {
  if (error_ < 0) return failure(errorText(error_));
  struct stat status {};
  if (::fstat(fd_, &status) == 0 && status.st_nlink == 0)
    return failure(path_ + " was removed while it was written");
  return {};
}

Result<void> M4aFile::end() {
  encodePending(true);
  const int status = avcodec_send_frame(codec_.get(), nullptr);
  if (status < 0 && status != AVERROR_EOF && error_ == 0) error_ = status;
  writePackets();
  if (error_ == 0) {
    const int trailer = av_write_trailer(format_.get());
    if (trailer < 0) error_ = trailer;
    else committed_ = bytes_;
  }
  return written();
}

// The file cannot be written any more: what follows its last complete fragment is cut off (a box
// cut short makes readers refuse the whole file), the failure is told once, and no more audio is
// taken.
void M4aFile::fail(const std::string& reason) {
  broken_ = true;
  (void)::ftruncate(fd_, committed_);
  {
    std::lock_guard lock(mutex_);
    failure_ = reason;
    closed_ = true;
  }
  const std::uint64_t one = 1;
  (void)::write(failed_, &one, sizeof one);
}

}  // namespace mirlet::ffmpeg
