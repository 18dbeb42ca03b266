#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "mirlet/platform/linux/pulse/stream_clock.hpp"
#include "mirlet/platform/linux/pulse/threaded_loop.hpp"

namespace mirlet::pulse {
namespace {

// Short fragments: without an explicit request the server hands over audio in bursts up to two
// seconds apart, and the first of them comes late.
constexpr int kFragmentMilliseconds = 20;
// A working source delivers its first audio well within this.
constexpr int kSilenceGraceMilliseconds = 100;

std::int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

class SystemAudioStream final : public CaptureStream,
                                public std::enable_shared_from_this<SystemAudioStream> {
 public:
  SystemAudioStream(const StreamConfiguration& configuration,
                    std::shared_ptr<StreamDelegate> delegate)
      : sampleRate_(configuration.sampleRate > 0 ? configuration.sampleRate : 48000),
        channels_(configuration.channelCount > 0 ? configuration.channelCount : 2),
        delegate_(std::move(delegate)),
        clock_(sampleRate_) {}

  ~SystemAudioStream() override {
    if (!loop_) return;
    if (pa_threaded_mainloop_in_thread(loop_.get())) {
      // The loop cannot join its own thread: leave it all to the end of the process.
      (void)stream_.release();
      (void)context_.release();
      (void)loop_.release();
      return;
    }
    pa_threaded_mainloop_stop(loop_.get());
    // Members go in reverse order: stream, context, then the (stopped) loop.
  }

  Result<void> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                               const std::string& sampleHandlerQueueLabel) override {
    std::lock_guard lock(control_);
    if (loop_) return failure("outputs cannot be added to a running capture");
    if (!output) return failure("no output given");
    if (type == StreamOutputType::audio && threadName_.empty())
      threadName_ = sampleHandlerQueueLabel;
    outputs_.push_back({std::move(output), type});
    return {};
  }

  void startCapture(Completion<void> completion) override {
    std::lock_guard lock(control_);
    if (loop_) {
      completion(failure("the capture was already started"));
      return;
    }
    startCompletion_ = once(std::move(completion));
    loop_.reset(pa_threaded_mainloop_new());
    if (!loop_) return completeStart(failure("cannot make a sound server loop: out of memory"));
    // The loop's thread is the one serial queue on which buffers reach the outputs.
    pa_threaded_mainloop_set_name(loop_.get(),
                                  threadName_.empty() ? "mirlet.audio" : threadName_.c_str());
    context_.reset(pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), "mirlet"));
    if (!context_) return completeStart(failure("cannot make a sound server context"));
    pa_context_set_state_callback(context_.get(), &SystemAudioStream::onContextState, this);
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
      return completeStart(failure(pa_strerror(pa_context_errno(context_.get()))));
    const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(kConnectTimeout);
    timer_ = pa_context_rttime_new(context_.get(),
                                   pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()),
                                   &SystemAudioStream::onTimeout, this);
    if (pa_threaded_mainloop_start(loop_.get()) < 0)
      return completeStart(failure("cannot start the sound server loop"));
  }

  void stopCapture(Completion<void> completion) override {
    if (loop_ && pa_threaded_mainloop_in_thread(loop_.get())) {
      // Asked from a buffer callback: the loop's thread cannot wait for its own end.
      std::thread([self = shared_from_this(), completion = std::move(completion)]() mutable {
        self->stopCapture(std::move(completion));
      }).detach();
      return;
    }
    {
      std::lock_guard lock(control_);
      if (loop_ && !stopped_) {
        {
          LoopLock loopLock(loop_.get());
          stopping_ = true;
          if (stream_) {
            pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
            pa_stream_disconnect(stream_.get());
          }
          completeStart(failure("the capture was stopped while it started"));
        }
        // Joins the loop's thread: no buffer callback runs after this.
        pa_threaded_mainloop_stop(loop_.get());
        stopped_ = true;
      }
    }
    completion({});
  }

 private:
  struct Attached {
    std::shared_ptr<StreamOutput> output;
    StreamOutputType type;
  };

  // Callers hold `control_` or run on the loop's thread.
  void completeStart(Result<void> result) {
    if (timer_ != nullptr && context_) {
      pa_context_rttime_restart(context_.get(), timer_, PA_USEC_INVALID);
    }
    if (!startCompletion_) return;
    auto completion = std::move(startCompletion_);
    startCompletion_ = nullptr;
    if (!result) failed_ = true;
    completion(std::move(result));
  }

  void failStart(const std::string& description) {
    failed_ = true;
    if (stream_) pa_stream_disconnect(stream_.get());
    if (context_) pa_context_disconnect(context_.get());
    completeStart(failure(description));
  }

  std::string contextError() const { return pa_strerror(pa_context_errno(context_.get())); }

  static void onTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    static_cast<SystemAudioStream*>(self)->failStart("timed out waiting for the sound server");
  }

  static void onContextState(pa_context* context, void* userdata) {
    auto& self = *static_cast<SystemAudioStream*>(userdata);
    switch (pa_context_get_state(context)) {
      case PA_CONTEXT_READY:
        self.openRecordStream();
        break;
      case PA_CONTEXT_FAILED:
      case PA_CONTEXT_TERMINATED:
        self.lost(self.contextError());
        break;
      default:
        break;
    }
  }

  void openRecordStream() {
    if (stream_ || stopping_ || failed_) return;
    pa_sample_spec format{};
    format.format = PA_SAMPLE_FLOAT32LE;
    format.rate = static_cast<std::uint32_t>(sampleRate_);
    format.channels = static_cast<std::uint8_t>(channels_);
    if (!pa_sample_spec_valid(&format)) return failStart("unsupported audio format");
    stream_.reset(pa_stream_new(context_.get(), "system audio", &format, nullptr));
    if (!stream_) return failStart(contextError());
    pa_stream_set_state_callback(stream_.get(), &SystemAudioStream::onStreamState, this);
    pa_stream_set_read_callback(stream_.get(), &SystemAudioStream::onRead, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(
        pa_usec_to_bytes(kFragmentMilliseconds * PA_USEC_PER_MSEC, &format));
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
    if (pa_stream_connect_record(stream_.get(), "@DEFAULT_MONITOR@", &attributes, flags) < 0)
      return failStart(contextError());
  }

  static void onStreamState(pa_stream* stream, void* userdata) {
    auto& self = *static_cast<SystemAudioStream*>(userdata);
    switch (pa_stream_get_state(stream)) {
      case PA_STREAM_READY:
        self.readyAt_ = monotonicNanoseconds();
        self.scheduleSilence(pa_rtclock_now() + kSilenceGraceMilliseconds * PA_USEC_PER_MSEC);
        self.completeStart({});
        break;
      case PA_STREAM_FAILED:
      case PA_STREAM_TERMINATED:
        self.lost(self.contextError());
        break;
      default:
        break;
    }
  }

  // A sink with nothing to play may render in blocks of seconds (a null sink does), and its
  // monitor then delivers nothing until its next block: audio that is not played at all. Until
  // the first audio comes, the stream delivers that silence itself, in step with the clock, so
  // the recording starts when it was asked to, not up to two seconds later.
  void scheduleSilence(pa_usec_t at) {
    if (silenceTimer_ == nullptr)
      silenceTimer_ = pa_context_rttime_new(context_.get(), at, &SystemAudioStream::onSilence, this);
    else
      pa_context_rttime_restart(context_.get(), silenceTimer_, at);
  }

  static void onSilence(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
    auto& self = *static_cast<SystemAudioStream*>(userdata);
    if (self.heard_ || self.stopping_ || !self.stream_) return;
    if (!self.clock_.anchored()) self.clock_.anchor(self.readyAt_, 0);
    const std::int64_t due =
        (monotonicNanoseconds() - self.readyAt_) * self.sampleRate_ / 1'000'000'000;
    const std::int64_t frames = due - self.silenceFrames_;
    if (frames > 0) {
      self.silenceFrames_ += frames;
      self.deliver(nullptr, static_cast<std::size_t>(frames) * sizeof(float) *
                                static_cast<std::size_t>(self.channels_));
    }
    self.scheduleSilence(pa_rtclock_now() + kFragmentMilliseconds * PA_USEC_PER_MSEC);
  }

  // The server went away or refused: a failed start, or the end of a running capture.
  void lost(const std::string& description) {
    if (stopping_ || failed_) return;
    if (startCompletion_) return failStart(description);
    failed_ = true;
    if (delegate_) delegate_->didStopWithError(*this, Error{description});
  }

  static void onRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& self = *static_cast<SystemAudioStream*>(userdata);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0) {
      if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
      self.heard_ = true;
      self.deliver(static_cast<const float*>(data), bytes);
      pa_stream_drop(stream);
    }
  }

  // `samples` is null for a hole in the stream, which becomes silence of its length.
  void deliver(const float* samples, std::size_t bytes) {
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(channels_);
    const std::size_t frames = bytes / frameBytes;
    if (frames == 0 || stopping_) return;
    if (!clock_.anchored()) clock_.anchor(monotonicNanoseconds(), latencyNanoseconds(stream_.get()));
    auto buffer = std::make_shared<std::vector<float>>(frames * static_cast<std::size_t>(channels_));
    if (samples != nullptr) std::copy_n(samples, buffer->size(), buffer->data());
    SampleBuffer sample;
    sample.isValid = true;
    sample.presentationTimeStamp = clock_.next(static_cast<std::int64_t>(frames));
    sample.sampleRate = sampleRate_;
    sample.channelCount = channels_;
    sample.samples = std::move(buffer);
    for (const Attached& attached : outputs_)
      if (attached.type == StreamOutputType::audio)
        attached.output->didOutputSampleBuffer(*this, sample, StreamOutputType::audio);
  }

  // How long ago the oldest unread sample was captured.
  std::int64_t latencyNanoseconds(pa_stream* stream) const {
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) == 0 && !negative)
      return static_cast<std::int64_t>(latency) * 1000;
    // No timing information yet: at least what waits to be read was captured before now.
    const pa_sample_spec* format = pa_stream_get_sample_spec(stream);
    const std::size_t readable = pa_stream_readable_size(stream);
    if (format == nullptr || readable == static_cast<std::size_t>(-1)) return 0;
    return static_cast<std::int64_t>(pa_bytes_to_usec(readable, format)) * 1000;
  }

  const int sampleRate_;
  const int channels_;
  std::shared_ptr<StreamDelegate> delegate_;
  std::mutex control_;              // start and stop against each other
  std::string threadName_;          // written before the loop starts
  std::vector<Attached> outputs_;   // written before the loop starts
  Completion<void> startCompletion_;
  StreamClock clock_;               // loop thread only
  pa_time_event* timer_ = nullptr;  // owned by the context
  pa_time_event* silenceTimer_ = nullptr;  // owned by the context
  std::int64_t readyAt_ = 0;               // monotonic nanoseconds; loop thread only
  std::int64_t silenceFrames_ = 0;         // loop thread only
  bool heard_ = false;                     // the server has delivered audio; loop thread only
  bool stopping_ = false;
  bool failed_ = false;
  bool stopped_ = false;
  ThreadedLoop loop_;
  LoopContext context_;
  LoopStream stream_;
};

}  // namespace

std::shared_ptr<CaptureStream> makeSystemAudioStream(const StreamConfiguration& configuration,
                                                     std::shared_ptr<StreamDelegate> delegate) {
  return std::make_shared<SystemAudioStream>(configuration, std::move(delegate));
}

}  // namespace mirlet::pulse
