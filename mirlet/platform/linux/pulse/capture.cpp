#include "mirlet/platform/linux/pulse/capture.hpp"

#include <pulse/error.h>
#include <pulse/timeval.h>

#include <cstdio>

#include "mirlet/platform/linux/pulse/watchdog.hpp"

namespace mirlet::pulse {
namespace {

// A lost server is asked again this often, and one that accepts but does not answer is given up
// after kAttemptNanoseconds.
constexpr std::int64_t kReconnectNanoseconds = 250'000'000;
constexpr std::int64_t kAttemptNanoseconds = 2'000'000'000;

timeval inNanoseconds(std::int64_t nanoseconds) {
  timeval at{};
  pa_gettimeofday(&at);
  pa_timeval_add(&at, static_cast<pa_usec_t>(std::max<std::int64_t>(0, nanoseconds) / 1000));
  return at;
}

}  // namespace

Result<void> Capture::start(const char* threadName) {
  loop_.reset(pa_threaded_mainloop_new());
  if (!loop_) return failure("cannot make a sound server loop: out of memory");
  pa_threaded_mainloop_set_name(loop_.get(), threadName);
  api_ = pa_threaded_mainloop_get_api(loop_.get());
  follower_.emplace(api_, static_cast<SinkFollower::Target&>(*this));
  // Set up before the loop's thread runs, so that none of this needs its lock.
  startTimer_ = newTimer(std::chrono::nanoseconds(kConnectTimeout).count(), &Capture::onStartTimeout);
  connect();
  if (state_ == State::ended) return failure(startError_);  // refused at once
  if (pa_threaded_mainloop_start(loop_.get()) < 0) {
    state_ = State::ended;
    return failure("cannot start the sound server loop");
  }
  LoopLock lock(loop_.get());
  // The start time-out bounds this wait.
  while (state_ == State::starting) pa_threaded_mainloop_wait(loop_.get());
  if (state_ != State::running) return failure(startError_);
  // The recording starts now, as the caller learns that it runs, rather than when the loop's
  // thread found the stream ready: this thread needs the lock back first, and the loop's thread
  // holds it while it delivers. In a slow process that can take a while: under ThreadSanitizer
  // the first delivery held it 0.2-0.4 s in some starts, and the file began that long before the
  // recording line. Audio read meanwhile was captured before now and is dropped; silence stands
  // in until the first audio comes.
  clock_.anchor(monotonicNanoseconds());
  pump_ = newTimer(watchdog::kTickNanoseconds, &Capture::onPump);
  return {};
}

Capture::~Capture() {
  if (!loop_) return;
  // The recording lasts until now, however long the loop's thread takes to get to its end.
  const std::int64_t end = monotonicNanoseconds();
  {
    LoopLock lock(loop_.get());
    // Also when the last fragment is still on its way: the loop's thread delivers the rest as
    // silence, since audio comes from it alone.
    if (state_ == State::running) {
      state_ = State::ending;
      tailEnd_ = end;
      restartTimer(pump_, 0);
      while (state_ == State::ending) pa_threaded_mainloop_wait(loop_.get());
    }
    state_ = State::ended;
    follower_->stop();
    stream_.reset();
    if (context_) pa_context_disconnect(context_.get());
  }
  // Joins the loop's thread: no delivery runs after this.
  pa_threaded_mainloop_stop(loop_.get());
  context_.reset();
  loop_.reset();
}

pa_time_event* Capture::newTimer(std::int64_t nanoseconds, TimerCallback callback) {
  const timeval at = inNanoseconds(nanoseconds);
  return api_->time_new(api_, &at, callback, this);
}

void Capture::restartTimer(pa_time_event* timer, std::int64_t nanoseconds) {
  const timeval at = inNanoseconds(nanoseconds);
  api_->time_restart(timer, &at);
}

// The end of the start, on the loop's thread (or under its lock): null `error` for success.
void Capture::completeStart(const char* error) {
  if (startTimer_ != nullptr) api_->time_restart(startTimer_, nullptr);
  if (state_ != State::starting) return;
  state_ = error == nullptr ? State::running : State::ended;
  if (error != nullptr) std::snprintf(startError_, sizeof startError_, "%s", error);
  pa_threaded_mainloop_signal(loop_.get(), 0);
}

void Capture::failStart(const char* description) {
  // First: disconnecting reports the context's end, which must not count as the reason.
  completeStart(*description != '\0' ? description : "the sound server failed");
  closeStream();
  if (context_) pa_context_disconnect(context_.get());
}

void Capture::onStartTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
  auto& self = *static_cast<Capture*>(userdata);
  shielded([&] { self.failStart("timed out waiting for the sound server"); },
           [&] { self.recover(); });
}

// After a callback that could not finish: as after a stream that ended, silence stands in and
// the default output is asked for again; a start fails.
void Capture::recover() noexcept {
  if (state_ == State::starting) return failStart("out of memory");
  if (state_ != State::running) return;
  closeStream();
  follower_->ended();
}

// A new connection. No server is ever started for it.
void Capture::connect() {
  context_.reset(pa_context_new(api_, "mirlet"));
  attemptStartedAt_ = monotonicNanoseconds();
  if (!context_) {
    if (state_ == State::starting) failStart("cannot make a sound server context");
    return;
  }
  pa_context_set_state_callback(context_.get(), &Capture::onContextState, this);
  if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    lostServer();
}

void Capture::onContextState(pa_context* context, void* userdata) {
  auto& self = *static_cast<Capture*>(userdata);
  if (context != self.context_.get()) return;
  shielded(
      [&] {
        switch (pa_context_get_state(context)) {
          case PA_CONTEXT_READY:
            return self.follower_->follow(context);
          case PA_CONTEXT_FAILED:
          case PA_CONTEXT_TERMINATED:
            return self.lostServer();
          default:
            return;
        }
      },
      [&] { self.recover(); });
}

// The connection is gone: a failed start, or an outage that silence covers until the server is
// back.
void Capture::lostServer() {
  if (state_ == State::starting)
    return failStart(context_ ? pa_strerror(pa_context_errno(context_.get())) : "no sound server");
  if (state_ != State::running) return;
  closeStream();
  follower_->lose();
  if (reconnect_ == nullptr) reconnect_ = newTimer(kReconnectNanoseconds, &Capture::onReconnect);
  else restartTimer(reconnect_, kReconnectNanoseconds);
}

void Capture::onReconnect(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
  auto& self = *static_cast<Capture*>(userdata);
  shielded([&] { self.reconnect(); }, [&] { self.recover(); });
}

void Capture::reconnect() {
  if (state_ != State::running) return;
  const pa_context_state_t state =
      context_ ? pa_context_get_state(context_.get()) : PA_CONTEXT_FAILED;
  if (state == PA_CONTEXT_READY) return;
  const bool attempting = PA_CONTEXT_IS_GOOD(state) &&
                          monotonicNanoseconds() - attemptStartedAt_ < kAttemptNanoseconds;
  if (!attempting) {
    context_.reset();
    connect();
  }
  // Checked again until the new connection is ready.
  if (context_ && pa_context_get_state(context_.get()) != PA_CONTEXT_READY)
    restartTimer(reconnect_, kReconnectNanoseconds);
}

void Capture::closeStream() {
  stream_.reset();
  clock_.breakRun();
  // Silence stands in from now on, in step with the clock.
  if (pump_ != nullptr && state_ == State::running) restartTimer(pump_, watchdog::kTickNanoseconds);
}

void Capture::record(const std::string& monitor) {
  if (state_ == State::ending || state_ == State::ended) return;
  closeStream();
  auto opened = MonitorStream::open(context_.get(), monitor, *this, clock_, monotonicNanoseconds());
  if (!opened) return state_ == State::starting ? failStart(opened.error().c_str()) : recordNothing();
  stream_ = std::move(*opened);
}

// No output to follow: silence until one appears.
void Capture::recordNothing() {
  closeStream();
  if (state_ == State::starting) completeStart(nullptr);
}

void Capture::streamReady() {
  follower_->placed();
  if (state_ == State::starting) completeStart(nullptr);
}

// The stream goes, and the monitor is asked for again shortly.
void Capture::streamMisplaced() {
  recordNothing();
  follower_->misplaced();
}

// The monitor went away with its output, or the server is going: asked for again.
void Capture::streamEnded() {
  if (state_ == State::starting)
    return failStart(pa_strerror(pa_context_errno(context_.get())));
  closeStream();
  follower_->ended();
}

// While audio comes the watchdog waits: the tick it sets moves on with each delivery, so that
// the loop's thread wakes for audio alone.
void Capture::streamDelivered() {
  if (state_ == State::running && pump_ != nullptr) pump();
}

// Silence for the time that no stream covers; a stream that stays silent is made again.
void Capture::onPump(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
  auto& self = *static_cast<Capture*>(userdata);
  shielded([&] { self.pump(); }, [&] { self.recover(); });
}

void Capture::pump() {
  if (state_ == State::ending) {
    clock_.end(tailEnd_);
    state_ = State::ended;
    pa_threaded_mainloop_signal(loop_.get(), 0);
    return;
  }
  if (state_ != State::running) return;
  const std::int64_t now = monotonicNanoseconds();
  const watchdog::Decision decision = watchdog::decide(
      now, stream_ ? std::optional(stream_->madeAt()) : std::nullopt, clock_.lastAudioAt(),
      quiet_);
  quiet_ = decision.action != watchdog::Action::wait;
  if (decision.action == watchdog::Action::silence || decision.action == watchdog::Action::remake)
    clock_.silenceUntil(now);
  if (decision.action == watchdog::Action::remake) {
    closeStream();
    follower_->ended();
  }
  restartTimer(pump_, decision.nextAt - now);
}

}  // namespace mirlet::pulse
