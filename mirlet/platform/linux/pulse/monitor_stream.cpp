#include "mirlet/platform/linux/pulse/monitor_stream.hpp"

#include <pulse/error.h>

#include <ctime>

namespace mirlet::pulse {
namespace {

// The server hands over audio once a fragment has filled. Without an explicit request it does so
// in bursts up to two seconds apart. 100 ms is ten wake-ups a second: 20 ms fragments cost fifty,
// a fifth of the recording's CPU time. The stop does not wait for a fragment (the rest of the
// recording is delivered as silence), and a switch's gap is silence of its length either way.
constexpr pa_usec_t kFragmentMicroseconds = 100'000;

}  // namespace

std::int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

Result<std::unique_ptr<MonitorStream>> MonitorStream::open(pa_context* context,
                                                           const std::string& monitor,
                                                           Owner& owner, SampleClock& clock,
                                                           std::int64_t now) {
  pa_sample_spec format{};
  format.format = PA_SAMPLE_FLOAT32LE;
  format.rate = MIRLET_RECORDING_RATE;
  format.channels = MIRLET_RECORDING_CHANNELS;
  std::unique_ptr<MonitorStream> self(new MonitorStream(monitor, owner, clock, now));
  self->stream_.reset(pa_stream_new(context, "system audio", &format, nullptr));
  if (!self->stream_) return failure(pa_strerror(pa_context_errno(context)));
  pa_stream* stream = self->stream_.get();
  pa_stream_set_state_callback(stream, &MonitorStream::onState, self.get());
  pa_stream_set_read_callback(stream, &MonitorStream::onRead, self.get());
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentMicroseconds, &format));
  attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING |
      PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream, monitor.c_str(), &attributes, flags) < 0)
    return failure(pa_strerror(pa_context_errno(context)));
  return self;
}

MonitorStream::~MonitorStream() {
  if (!stream_) return;
  // Disconnecting reports the stream's end, which is no news to an owner that drops it.
  pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
  pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
  pa_stream_disconnect(stream_.get());
}

void MonitorStream::onState(pa_stream* stream, void* userdata) {
  auto& self = *static_cast<MonitorStream*>(userdata);
  shielded([&] { self.changed(stream); }, [&] { self.owner_.streamEnded(); });
}

void MonitorStream::changed(pa_stream* stream) {
  switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: {
      // Never anything but the monitor that was asked for: should the server link a new stream
      // elsewhere while its session manager is busy with a change, that stream goes.
      const char* source = pa_stream_get_device_name(stream);
      if (source == nullptr || monitor_ != source) return owner_.streamMisplaced();
      return owner_.streamReady();
    }
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
      return owner_.streamEnded();
    default:
      return;
  }
}

void MonitorStream::onRead(pa_stream* stream, std::size_t, void* userdata) {
  auto& self = *static_cast<MonitorStream*>(userdata);
  shielded([&] { self.read(stream); }, [&] { self.owner_.streamEnded(); });
}

void MonitorStream::read(pa_stream* stream) {
  constexpr std::size_t kFrameBytes = sizeof(float) * MIRLET_RECORDING_CHANNELS;
  const void* data = nullptr;
  std::size_t bytes = 0;
  std::int64_t now = 0;
  while (pa_stream_readable_size(stream) > 0) {
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
    now = monotonicNanoseconds();
    // Asked once a run: after a stall, the server's estimate counts the time it stalled as
    // latency, which would hide the audio it dropped meanwhile.
    if (!clock_.inRun()) runLatency_ = latencyNanoseconds();
    // A hole (no data) is silence of its length.
    clock_.audio(static_cast<const float*>(data),
                      static_cast<std::int64_t>(bytes / kFrameBytes), now - runLatency_,
                      now);
    pa_stream_drop(stream);
  }
  if (now != 0) owner_.streamDelivered();
}

// How long ago the oldest unread sample was captured.
std::int64_t MonitorStream::latencyNanoseconds() const {
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream_.get(), &latency, &negative) == 0 && !negative)
    return static_cast<std::int64_t>(latency) * 1000;
  // No timing information yet: at least what waits to be read was captured before now.
  const pa_sample_spec* format = pa_stream_get_sample_spec(stream_.get());
  const std::size_t readable = pa_stream_readable_size(stream_.get());
  if (format == nullptr || readable == static_cast<std::size_t>(-1)) return 0;
  return static_cast<std::int64_t>(pa_bytes_to_usec(readable, format)) * 1000;
}

}  // namespace mirlet::pulse
