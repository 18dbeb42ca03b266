#pragma once
// Owners for FFmpeg's handles, and FFmpeg's error codes as text.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <string>

namespace mirlet::ffmpeg {

// The output's byte stream is the file's own (`pb` of a custom context), freed by its own owner.
struct OutputFormatContextDeleter {
  void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct IoContextDeleter {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

using OutputFormatContext = std::unique_ptr<AVFormatContext, OutputFormatContextDeleter>;
using IoContext = std::unique_ptr<AVIOContext, IoContextDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;

inline std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
  return text;
}

}  // namespace mirlet::ffmpeg
