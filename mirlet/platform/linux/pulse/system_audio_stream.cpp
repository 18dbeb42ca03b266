#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <ctime>
#include <string>

#include "mirlet/platform/linux/pulse/capture_timeline.hpp"
#include "mirlet/platform/linux/pulse/threaded_loop.hpp"

namespace mirlet::pulse {
namespace {

// The server hands over audio once a fragment has filled. Without an explicit request it does so
// in bursts up to two seconds apart. 100 ms is ten wake-ups a second: 20 ms fragments cost fifty,
// a fifth of the recording's CPU time. The stop does not wait for a fragment (the rest of the
// recording is delivered as silence), and a switch's gap is silence of its length either way.
constexpr int kFragmentMilliseconds = 100;
// A lost server is asked again this often, and one that accepts but does not answer is given up
// after kAttemptMilliseconds.
constexpr int kReconnectMilliseconds = 250;
constexpr int kAttemptMilliseconds = 2000;
// A stream that has delivered nothing for this long counts as stalled: silence stands in for it.
// Working streams deliver every fragment.
constexpr std::int64_t kStallNanoseconds = 1'000'000'000;
// A stream still silent after this long is made again. A stream can be ready and linked to
// nothing: on PipeWire, the session manager can leave a new stream unlinked, and a patchbay can
// cut its link; nothing tells the client, and that stream never delivers again. The longest quiet
// a working stream has is PulseAudio's idle null sink rendering ahead: its first fragment came
// 2.0 s after the stream was ready.
constexpr std::int64_t kRemakeNanoseconds = 3'000'000'000;
// A stream linked to another source than the monitor asked for is tried again, soon for the
// first few times, then every few seconds.
constexpr int kMisplacedRetries = 8;
constexpr int kMisplacedBackoffMilliseconds = 3000;
// Silence goes out in pieces of at most this many frames per channel.
constexpr std::int64_t kSilenceChunkFrames = 4800;

std::int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// What the machine plays: the monitor of the default output, followed wherever it goes.
//
// Everything below the start runs on the loop's thread, the one serial queue on which buffers
// reach the outputs. The default output is resolved by name (server info, then the sink's own
// monitor), and the record stream is pinned to that monitor, so the server can never move it to
// another source such as a microphone. Server and sink events make it follow the default; a lost
// connection is made again every quarter second. Until a stream delivers, and whenever one stalls,
// the stream delivers silence in step with the clock, so the recording has no holes in time.
class SystemAudioCapture {
 public:
  SystemAudioCapture(int sampleRate, int channels)
      : sampleRate_(sampleRate > 0 ? sampleRate : 48000),
        channels_(channels > 0 ? channels : 2),
        timeline_(sampleRate_) {}

  ~SystemAudioCapture() {
    if (!loop_) return;
    if (pa_threaded_mainloop_in_thread(loop_.get())) {
      // The loop cannot join its own thread: leave it all to the end of the process.
      (void)stream_.release();
      (void)context_.release();
      (void)loop_.release();
      return;
    }
    stop();
    // Members go in reverse order: stream, context, then the (stopped) loop with its timers.
  }

  // Empty once the capture runs; otherwise why it does not.
  std::string start(const char* threadName, mirlet_audio_sink sink) {
    if (loop_) return "the capture was already started";
    sink_ = sink;
    loop_.reset(pa_threaded_mainloop_new());
    if (!loop_) return "cannot make a sound server loop: out of memory";
    // The loop's thread is the one serial queue on which buffers are delivered.
    pa_threaded_mainloop_set_name(loop_.get(), threadName);
    api_ = pa_threaded_mainloop_get_api(loop_.get());
    // Set up before the loop's thread runs, so that none of this needs its lock.
    starting_ = true;
    const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(kConnectTimeout);
    startTimer_ = newTimer(static_cast<int>(timeout.count()), &SystemAudioCapture::onStartTimeout);
    connect();
    if (!starting_) return startError_;  // refused at once
    if (pa_threaded_mainloop_start(loop_.get()) < 0) return "cannot start the sound server loop";
    LoopLock lock(loop_.get());
    // The start time-out bounds this wait.
    while (starting_) pa_threaded_mainloop_wait(loop_.get());
    if (!startError_.empty()) return startError_;
    // The recording starts now, as the caller learns that it runs, rather than when the loop's
    // thread found the stream ready: this thread needs the lock back first, and the loop's thread
    // holds it while it delivers. In a slow process that can take a while: under ThreadSanitizer
    // the first delivery (which starts the file's writer thread) held it 0.2-0.4 s in some starts,
    // and the file began that long before the recording line. Audio read meanwhile was captured
    // before now and is dropped; silence stands in until the first audio comes.
    timeline_.anchor(monotonicNanoseconds());
    pump_ = newTimer(kFragmentMilliseconds, &SystemAudioCapture::onPump);
    return startError_;
  }

  void stop() {
    if (!loop_ || stopped_) return;
    if (pa_threaded_mainloop_in_thread(loop_.get())) {
      stopping_ = true;  // asked from a delivery: nothing more is delivered
      return;
    }
    // The recording lasts until now, however long the loop's thread takes to get to its end.
    const std::int64_t end = monotonicNanoseconds();
    {
      LoopLock lock(loop_.get());
      // Also when the last fragment is still on its way: the loop's thread delivers the rest as
      // silence, since buffers come from it alone.
      if (pump_ != nullptr && !stopping_) {
        tailWanted_ = true;
        tailEnd_ = end;
        restartTimer(pump_, 0);
        while (tailWanted_) pa_threaded_mainloop_wait(loop_.get());
      }
      stopping_ = true;
      closeStream();
      if (context_) pa_context_disconnect(context_.get());
    }
    // Joins the loop's thread: no delivery runs after this.
    pa_threaded_mainloop_stop(loop_.get());
    stopped_ = true;
  }

 private:
  using TimerCallback = void (*)(pa_mainloop_api*, pa_time_event*, const timeval*, void*);

  static timeval inMilliseconds(int milliseconds) {
    timeval at{};
    pa_gettimeofday(&at);
    pa_timeval_add(&at, static_cast<pa_usec_t>(milliseconds) * PA_USEC_PER_MSEC);
    return at;
  }
  pa_time_event* newTimer(int milliseconds, TimerCallback callback) {
    const timeval at = inMilliseconds(milliseconds);
    return api_->time_new(api_, &at, callback, this);
  }
  void restartTimer(pa_time_event* timer, int milliseconds) {
    const timeval at = inMilliseconds(milliseconds);
    api_->time_restart(timer, &at);
  }
  // Sets `timer` to fire in `milliseconds`, making it on first use.
  void arm(pa_time_event*& timer, int milliseconds, TimerCallback callback) {
    if (timer == nullptr) timer = newTimer(milliseconds, callback);
    else restartTimer(timer, milliseconds);
  }
  void cancelTimer(pa_time_event* timer) {
    if (timer != nullptr) api_->time_restart(timer, nullptr);
  }

  // The end of the start, on the loop's thread (or under its lock): empty `error` for success.
  void completeStart(std::string error) {
    if (startTimer_ != nullptr) cancelTimer(startTimer_);
    if (!starting_) return;
    starting_ = false;
    startError_ = std::move(error);
    // A recording starts where the waiting caller takes it up.
    if (!startError_.empty()) stopping_ = true;
    pa_threaded_mainloop_signal(loop_.get(), 0);
  }

  void failStart(const std::string& description) {
    // First: disconnecting reports the context's end, which must not count as the reason.
    completeStart(description.empty() ? "the sound server failed" : description);
    closeStream();
    if (context_) pa_context_disconnect(context_.get());
  }

  static void onStartTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    static_cast<SystemAudioCapture*>(self)->failStart("timed out waiting for the sound server");
  }

  std::string contextError() const {
    return context_ ? pa_strerror(pa_context_errno(context_.get())) : "no sound server";
  }

  // A new connection. No server is ever started for it.
  void connect() {
    context_.reset(pa_context_new(api_, "mirlet"));
    attemptStartedAt_ = monotonicNanoseconds();
    if (!context_) {
      if (starting_) completeStart("cannot make a sound server context");
      return;
    }
    pa_context_set_state_callback(context_.get(), &SystemAudioCapture::onContextState, this);
    pa_context_set_subscribe_callback(context_.get(), &SystemAudioCapture::onEvent, this);
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      lostServer();
  }

  static void onContextState(pa_context* context, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (context != self.context_.get()) return;
    switch (pa_context_get_state(context)) {
      case PA_CONTEXT_READY: {
        const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                              PA_SUBSCRIPTION_MASK_SINK);
        if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr))
          pa_operation_unref(op);
        self.resolve();
        break;
      }
      case PA_CONTEXT_FAILED:
      case PA_CONTEXT_TERMINATED:
        self.lostServer();
        break;
      default:
        break;
    }
  }

  // The connection is gone: a failed start, or an outage that silence covers until the server is
  // back.
  void lostServer() {
    if (stopping_) return;
    if (starting_) return failStart(contextError());
    closeStream();
    resolving_ = again_ = false;
    arm(reconnect_, kReconnectMilliseconds, &SystemAudioCapture::onReconnect);
  }

  static void onReconnect(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (self.stopping_) return;
    const pa_context_state_t state =
        self.context_ ? pa_context_get_state(self.context_.get()) : PA_CONTEXT_FAILED;
    if (state == PA_CONTEXT_READY) return;
    const bool attempting = PA_CONTEXT_IS_GOOD(state) &&
                            monotonicNanoseconds() - self.attemptStartedAt_ <
                                std::int64_t{kAttemptMilliseconds} * 1'000'000;
    if (!attempting) {
      self.context_.reset();
      self.connect();
    }
    // Checked again until the new connection is ready.
    if (self.context_ && pa_context_get_state(self.context_.get()) != PA_CONTEXT_READY)
      self.restartTimer(self.reconnect_, kReconnectMilliseconds);
  }

  static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                      void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (context != self.context_.get() || self.stopping_) return;
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    const bool defaultMayHaveChanged = facility == PA_SUBSCRIPTION_EVENT_SERVER;
    const bool recordedSinkGone = facility == PA_SUBSCRIPTION_EVENT_SINK &&
                                  kind == PA_SUBSCRIPTION_EVENT_REMOVE && index == self.sinkIndex_;
    const bool firstSink = facility == PA_SUBSCRIPTION_EVENT_SINK &&
                           kind == PA_SUBSCRIPTION_EVENT_NEW && !self.stream_;
    if (defaultMayHaveChanged || recordedSinkGone || firstSink) {
      self.resolve();
      // PipeWire's server announces a new default in steps (twice on an unplug), and an answer
      // read between them can still name the old one: looked at once more when it has settled.
      self.retryLater();
    }
  }

  // Finds the default output and records its monitor, unless that is what is recorded already.
  // One question at a time; what changes meanwhile is asked again after it.
  void resolve() {
    if (!context_ || stopping_) return;
    if (resolving_) {
      again_ = true;
      return;
    }
    resolving_ = true;
    pa_operation* op =
        pa_context_get_server_info(context_.get(), &SystemAudioCapture::onServerInfo, this);
    if (op == nullptr) return resolved();
    pa_operation_unref(op);
  }

  void resolved() {
    resolving_ = false;
    if (again_) {
      again_ = false;
      resolve();
    }
  }

  static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (context != self.context_.get()) return;
    const std::string sink = info != nullptr && info->default_sink_name != nullptr
                                 ? info->default_sink_name
                                 : "";
    if (sink.empty()) {
      self.recordNothing();
      return self.resolved();
    }
    if (self.stream_ && sink == self.sinkName_) return self.resolved();
    self.sinkFound_ = false;
    pa_operation* op = pa_context_get_sink_info_by_name(context, sink.c_str(),
                                                        &SystemAudioCapture::onSinkInfo, &self);
    if (op == nullptr) {
      self.recordNothing();
      return self.resolved();
    }
    pa_operation_unref(op);
  }

  static void onSinkInfo(pa_context* context, const pa_sink_info* info, int last, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (context != self.context_.get()) return;
    if (info != nullptr && last == 0) {
      self.sinkFound_ = true;
      if (info->monitor_source_name != nullptr && *info->monitor_source_name != '\0')
        self.record(info->name, info->index, info->monitor_source_name);
      else
        self.recordNothing();
      return;
    }
    // The end of the list, or an error such as a sink that went away meanwhile.
    if (!self.sinkFound_) self.recordNothing();
    self.resolved();
  }

  // No output to follow: silence until one appears.
  void recordNothing() {
    closeStream();
    if (starting_) completeStart("");
  }

  void record(const std::string& sink, std::uint32_t index, const std::string& monitor) {
    closeStream();
    pa_sample_spec format{};
    format.format = PA_SAMPLE_FLOAT32LE;
    format.rate = static_cast<std::uint32_t>(sampleRate_);
    format.channels = static_cast<std::uint8_t>(channels_);
    if (!pa_sample_spec_valid(&format)) return failStart("unsupported audio format");
    stream_.reset(pa_stream_new(context_.get(), "system audio", &format, nullptr));
    if (!stream_) return starting_ ? failStart(contextError()) : recordNothing();
    streamMadeAt_ = monotonicNanoseconds();
    sinkName_ = sink;
    sinkIndex_ = index;
    monitorName_ = monitor;
    pa_stream_set_state_callback(stream_.get(), &SystemAudioCapture::onStreamState, this);
    pa_stream_set_read_callback(stream_.get(), &SystemAudioCapture::onRead, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(
        pa_usec_to_bytes(kFragmentMilliseconds * PA_USEC_PER_MSEC, &format));
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    // Pinned: when the monitor goes, the stream ends instead of moving to the default source.
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING |
        PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_.get(), monitor.c_str(), &attributes, flags) < 0)
      return starting_ ? failStart(contextError()) : recordNothing();
  }

  void closeStream() {
    if (stream_) {
      pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
      pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
      pa_stream_disconnect(stream_.get());
      stream_.reset();
    }
    sinkName_.clear();
    monitorName_.clear();
    sinkIndex_ = PA_INVALID_INDEX;
    timeline_.breakRun();
    live_ = false;
    // Silence stands in from now on, in step with the clock.
    if (pump_ != nullptr && !stopping_) restartTimer(pump_, kFragmentMilliseconds);
  }

  static void onStreamState(pa_stream* stream, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (stream != self.stream_.get()) return;
    switch (pa_stream_get_state(stream)) {
      case PA_STREAM_READY: {
        const char* source = pa_stream_get_device_name(stream);
        // Never anything but the monitor that was asked for. Should the server link a new
        // stream elsewhere while its session manager is busy with a change, that stream goes,
        // and the monitor is asked for again shortly.
        if (source == nullptr || self.monitorName_ != source) {
          self.recordNothing();
          self.retryLater(self.misplaced_++ < kMisplacedRetries ? kReconnectMilliseconds
                                                                 : kMisplacedBackoffMilliseconds);
          return;
        }
        self.misplaced_ = 0;
        if (self.starting_) self.completeStart("");
        break;
      }
      case PA_STREAM_FAILED:
      case PA_STREAM_TERMINATED:
        // The monitor went away with its output, or the server is going: ask again.
        if (self.starting_) return self.failStart(self.contextError());
        self.closeStream();
        self.resolve();
        break;
      default:
        break;
    }
  }

  void retryLater(int milliseconds = kReconnectMilliseconds) {
    arm(retry_, milliseconds, &SystemAudioCapture::onRetry);
  }

  static void onRetry(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (!self.stopping_) self.resolve();
  }

  // Fills the time that no stream covers. While a stream delivers, it only watches for a stall.
  static void onPump(pa_mainloop_api*, pa_time_event* timer, const timeval*, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    if (self.stopping_) return;
    const std::int64_t now = monotonicNanoseconds();
    if (self.tailWanted_) {
      self.deliverSilenceUntil(self.tailEnd_);
      // Nothing follows the end: a fragment read before the stop takes the lock back would lie
      // past it (one did, by 21 ms, on busy cores).
      self.stopping_ = true;
      self.tailWanted_ = false;
      pa_threaded_mainloop_signal(self.loop_.get(), 0);
      return;
    }
    if (!self.live_ || now - self.lastAudioAt_ > kStallNanoseconds) {
      self.live_ = false;
      self.deliverSilenceUntil(now);
      const std::int64_t quietSince = std::max(self.lastAudioAt_, self.streamMadeAt_);
      if (self.stream_ && now - quietSince > kRemakeNanoseconds) {
        self.closeStream();
        self.resolve();
      }
      self.restartTimer(timer, kFragmentMilliseconds);
      return;
    }
    // A stream that delivers needs no silence: looked at again when it would count as stalled.
    const auto due = (self.lastAudioAt_ + kStallNanoseconds - now) / 1'000'000 + 1;
    self.restartTimer(timer, static_cast<int>(due));
  }

  void deliverSilenceUntil(std::int64_t now) { deliver(nullptr, timeline_.silenceUntil(now)); }

  static void onRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& self = *static_cast<SystemAudioCapture*>(userdata);
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(self.channels_);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0) {
      if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
      // A hole (no data) is silence of its length.
      self.takeAudio(static_cast<const float*>(data), static_cast<std::int64_t>(bytes / frameBytes));
      pa_stream_drop(stream);
    }
  }

  void takeAudio(const float* samples, std::int64_t frames) {
    // Audio read before the recording started was captured before it.
    if (frames == 0 || stopping_ || !timeline_.anchored()) return;
    const std::int64_t now = monotonicNanoseconds();
    // Asked once a run: after a stall, the server's estimate counts the time it stalled as
    // latency, which would hide the audio it dropped meanwhile.
    if (!timeline_.inRun()) runLatency_ = latencyNanoseconds();
    const CaptureTimeline::Placement placement = timeline_.placeAudio(now - runLatency_, frames);
    live_ = true;
    lastAudioAt_ = now;
    deliver(nullptr, placement.silenceBefore);
    const std::int64_t skip = placement.skipFrames;
    if (skip < frames) deliver(samples ? samples + skip * channels_ : nullptr, frames - skip);
  }

  // `samples` is null for silence. Only ever on the loop's thread: the one serial queue that the
  // recorder's state relies on.
  void deliver(const float* samples, std::int64_t frames) {
    assert(pa_threaded_mainloop_in_thread(loop_.get()));
    while (frames > 0 && !stopping_) {
      // Silence goes in pieces, so that no piece waits long for room in the file's queue.
      const std::int64_t count = samples ? frames : std::min(frames, kSilenceChunkFrames);
      const MediaTime time = timeline_.take(count);
      sink_.audio(sink_.context, samples, count, time.value, time.timescale);
      frames -= count;
      if (samples) samples += count * channels_;
    }
  }

  // How long ago the oldest unread sample was captured.
  std::int64_t latencyNanoseconds() const {
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

  const int sampleRate_;
  const int channels_;
  mirlet_audio_sink sink_{};
  bool starting_ = false;
  std::string startError_;
  pa_mainloop_api* api_ = nullptr;
  // Timers belong to the loop, which frees them with itself. The rest: loop thread only, or
  // under the loop's lock.
  pa_time_event* startTimer_ = nullptr;
  pa_time_event* reconnect_ = nullptr;
  pa_time_event* pump_ = nullptr;
  pa_time_event* retry_ = nullptr;
  int misplaced_ = 0;  // streams in a row that were linked to another source
  CaptureTimeline timeline_;
  std::string sinkName_;     // the output whose monitor is recorded
  std::uint32_t sinkIndex_ = PA_INVALID_INDEX;
  std::string monitorName_;
  bool resolving_ = false;   // a question about the default output is on its way
  bool again_ = false;       // ask again once it is answered
  bool sinkFound_ = false;
  bool live_ = false;        // the current stream delivers
  std::int64_t lastAudioAt_ = 0;
  std::int64_t runLatency_ = 0;  // how long before its arrival the run's first frame was captured
  std::int64_t streamMadeAt_ = 0;  // when the current stream was asked for
  std::int64_t attemptStartedAt_ = 0;
  bool tailWanted_ = false;  // the stop waits for the loop's thread to deliver up to tailEnd_
  std::int64_t tailEnd_ = 0;
  bool stopping_ = false;
  bool stopped_ = false;
  ThreadedLoop loop_;
  LoopContext context_;
  LoopStream stream_;
};

}  // namespace

struct Capture {
  SystemAudioCapture capture;
  std::string threadName;
  mirlet_audio_sink sink;
};

Capture* newCapture(int sampleRate, int channels, const char* threadName, mirlet_audio_sink sink) {
  return new Capture{SystemAudioCapture(sampleRate, channels), threadName, sink};
}

Result<void> startCapture(Capture& capture) {
  const std::string error = capture.capture.start(capture.threadName.c_str(), capture.sink);
  if (!error.empty()) return failure(error);
  return {};
}

void stopCapture(Capture& capture) { capture.capture.stop(); }

void deleteCapture(Capture* capture) { delete capture; }

}  // namespace mirlet::pulse
