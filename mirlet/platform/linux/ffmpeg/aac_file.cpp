#include "mirlet/platform/linux/ffmpeg/aac_file.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace mirlet::ffmpeg {
namespace {

struct DictionaryOwner {
  AVDictionary* dictionary = nullptr;
  ~DictionaryOwner() { av_dict_free(&dictionary); }
};

}  // namespace

Result<std::unique_ptr<AacFile>> AacFile::create(const std::string& path,
                                                 const AacFileSettings& settings) {
  // The libraries' own chatter (encoder statistics, warnings) must not reach the caller's
  // standard error; failures come back as results.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  std::unique_ptr<AacFile> file(new AacFile());
  file->settings_ = settings;
  file->path_ = path;

  AVFormatContext* format = nullptr;
  int status = avformat_alloc_output_context2(&format, nullptr, "ipod", path.c_str());
  if (status < 0 || format == nullptr)
    return failure("cannot set up an M4A file: " + errorText(status));
  file->format_.reset(format);

  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (encoder == nullptr) return failure("no AAC encoder in this FFmpeg");
  file->codec_.reset(avcodec_alloc_context3(encoder));
  if (!file->codec_) return failure("cannot set up the AAC encoder: out of memory");
  AVCodecContext& codec = *file->codec_;
  codec.sample_fmt = AV_SAMPLE_FMT_FLTP;
  codec.sample_rate = settings.sampleRate;
  av_channel_layout_default(&codec.ch_layout, settings.channels);
  codec.bit_rate = settings.bitRate;
  codec.profile = FF_PROFILE_AAC_LOW;
  codec.time_base = AVRational{1, settings.sampleRate};
  // MP4 keeps the decoder configuration in the sample description, not in the stream.
  codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // The fast coder spends half the CPU time of the default search at the same bit rate; for a
  // recorder that runs through whole meetings that matters more than the last bit of quality.
  DictionaryOwner encoderOptions;
  av_dict_set(&encoderOptions.dictionary, "aac_coder", "fast", 0);
  status = avcodec_open2(&codec, encoder, &encoderOptions.dictionary);
  if (status < 0) return failure("cannot open the AAC encoder: " + errorText(status));

  file->stream_ = avformat_new_stream(format, nullptr);
  if (file->stream_ == nullptr) return failure("cannot add an audio track: out of memory");
  status = avcodec_parameters_from_context(file->stream_->codecpar, &codec);
  if (status < 0) return failure("cannot describe the audio track: " + errorText(status));
  file->stream_->time_base = codec.time_base;

  file->frame_.reset(av_frame_alloc());
  file->packet_.reset(av_packet_alloc());
  if (!file->frame_ || !file->packet_) return failure("cannot set up the encoder: out of memory");
  AVFrame& frame = *file->frame_;
  frame.format = codec.sample_fmt;
  frame.sample_rate = codec.sample_rate;
  frame.nb_samples = codec.frame_size;
  status = av_channel_layout_copy(&frame.ch_layout, &codec.ch_layout);
  if (status >= 0) status = av_frame_get_buffer(&frame, 0);
  if (status < 0) return failure("cannot set up the encoder: " + errorText(status));
  file->pending_.assign(static_cast<std::size_t>(settings.channels),
                        std::vector<float>(static_cast<std::size_t>(codec.frame_size)));

  // Whether the file can be made is known now; the file itself comes with the first audio, so a
  // recording that fails to start leaves nothing behind.
  status = avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (status < 0) return failure("cannot create " + path + ": " + errorText(status));
  avio_closep(&format->pb);
  (void)::unlink(path.c_str());
  return file;
}

Result<void> AacFile::begin() {
  if (begun_) return {};
  int status = format_->pb != nullptr ? 0 : avio_open(&format_->pb, path_.c_str(), AVIO_FLAG_WRITE);
  if (status < 0) {
    firstError_ = status;
    return failure("cannot create " + path_ + ": " + errorText(status));
  }
  DictionaryOwner options;
  // Fragments from the start, each one flushed as it closes: a killed recording keeps all of
  // them. The header carries no sample table, so it is final as soon as it is written.
  av_dict_set(&options.dictionary, "movflags", "+empty_moov+default_base_moof", 0);
  av_dict_set_int(&options.dictionary, "frag_duration", settings_.fragmentMicroseconds, 0);
  format_->flush_packets = 1;
  status = avformat_write_header(format_.get(), &options.dictionary);
  if (status < 0) {
    firstError_ = status;
    return failure("cannot write the file header: " + errorText(status));
  }
  avio_flush(format_->pb);
  begun_ = true;
  struct stat made {};
  if (::stat(path_.c_str(), &made) == 0) {
    device_ = made.st_dev;
    inode_ = made.st_ino;
  }
  return {};
}

Result<void> AacFile::check() const {
  if (firstError_ < 0) return failure(errorText(firstError_));
  if (!begun_ || ended_) return {};
  struct stat now {};
  if (::stat(path_.c_str(), &now) != 0 || now.st_dev != device_ || now.st_ino != inode_)
    return failure(path_ + " was removed while it was written");
  return {};
}

void AacFile::append(const float* interleaved, std::int64_t frames) {
  const std::int64_t frameSize = codec_->frame_size;
  const std::size_t channels = pending_.size();
  while (frames > 0) {
    const std::int64_t take = std::min(frames, frameSize - pendingFrames_);
    for (std::int64_t i = 0; i < take; ++i)
      for (std::size_t c = 0; c < channels; ++c)
        pending_[c][static_cast<std::size_t>(pendingFrames_ + i)] =
            interleaved[static_cast<std::size_t>(i) * channels + c];
    pendingFrames_ += take;
    interleaved += static_cast<std::size_t>(take) * channels;
    frames -= take;
    if (pendingFrames_ == frameSize) encodePending(false);
  }
}

void AacFile::appendSilence(std::int64_t frames) {
  const std::int64_t frameSize = codec_->frame_size;
  while (frames > 0) {
    const std::int64_t take = std::min(frames, frameSize - pendingFrames_);
    for (auto& plane : pending_)
      std::fill_n(plane.begin() + pendingFrames_, take, 0.0f);
    pendingFrames_ += take;
    frames -= take;
    if (pendingFrames_ == frameSize) encodePending(false);
  }
}

void AacFile::encodePending(bool last) {
  if (pendingFrames_ == 0) return;
  AVFrame& frame = *frame_;
  int status = av_frame_make_writable(&frame);
  if (status < 0) {
    if (firstError_ == 0) firstError_ = status;
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
  if (status < 0 && firstError_ == 0) firstError_ = status;
  drainPackets();
}

void AacFile::drainPackets() {
  AVPacket& packet = *packet_;
  while (avcodec_receive_packet(codec_.get(), &packet) == 0) {
    av_packet_rescale_ts(&packet, codec_->time_base, stream_->time_base);
    packet.stream_index = stream_->index;
    if (!begun_) {  // no file to write into: the audio is lost, as the header was
      av_packet_unref(&packet);
      continue;
    }
    // With flush_packets set, every closed fragment reaches the file before this returns.
    const int status = av_write_frame(format_.get(), &packet);
    if (status < 0 && firstError_ == 0) firstError_ = status;
    av_packet_unref(&packet);
  }
}

Result<void> AacFile::end() {
  if (ended_) return {};
  ended_ = true;
  if (!begun_) {
    if (auto header = begin(); !header) return header;
  }
  encodePending(true);
  int status = avcodec_send_frame(codec_.get(), nullptr);
  if (status < 0 && status != AVERROR_EOF && firstError_ == 0) firstError_ = status;
  drainPackets();
  status = av_write_trailer(format_.get());
  if (status < 0 && firstError_ == 0) firstError_ = status;
  status = avio_closep(&format_->pb);
  if (status < 0 && firstError_ == 0) firstError_ = status;
  if (firstError_ < 0) return failure(errorText(firstError_));
  return {};
}

}  // namespace mirlet::ffmpeg
