#pragma once
// The capture of what the machine plays: the monitor of the sound server's default output,
// followed wherever the default goes, delivered on the recording's one clock.
//
// Everything after the start runs on the loop's thread, the one thread on which audio reaches the
// sink. A lost connection is made again every quarter second; until a stream delivers, and
// whenever one stalls, silence stands in, in step with the clock, so the recording has no holes.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/linux/pulse/monitor_stream.hpp"
#include "mirlet/platform/linux/pulse/sample_clock.hpp"
#include "mirlet/platform/linux/pulse/sink_follower.hpp"
#include "mirlet/platform/linux/pulse/threaded_loop.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet::pulse {

// How long starting may wait for the sound server before it fails.
inline constexpr std::chrono::seconds kConnectTimeout{5};

class Capture final : private SinkFollower::Target, private MonitorStream::Owner {
 public:
  explicit Capture(mirlet_audio_sink sink) : clock_(sink) {}
  // Ends the capture: the recording lasts until now, and nothing is delivered after this returns.
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Returns once the capture runs, or why it cannot, within kConnectTimeout; its frame 0 is the
  // moment it returns. Never starts a sound server.
  Result<void> start(const char* threadName);

 private:
  enum class State {
    starting,  // waiting for the first stream, for word that there is no output, or a failure
    running,   // delivering
    ending,    // the caller waits for the loop's thread to deliver up to tailEnd_
    ended,     // nothing more is delivered; also after a failed start
  };
  using TimerCallback = void (*)(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*);

  pa_time_event* newTimer(std::int64_t nanoseconds, TimerCallback callback);
  void restartTimer(pa_time_event* timer, std::int64_t nanoseconds);
  void completeStart(const char* error);
  void failStart(const char* description);
  void connect();
  void lostServer();
  void closeStream();
  void recover() noexcept;
  void reconnect();
  void pump();

  // SinkFollower::Target
  void record(const std::string& monitor) override;
  void recordNothing() override;
  bool recording() const override { return stream_ != nullptr; }
  // MonitorStream::Owner
  void streamReady() override;
  void streamMisplaced() override;
  void streamEnded() override;
  void streamDelivered() override;

  static void onContextState(pa_context* context, void* self);
  static void onStartTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
  static void onReconnect(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
  static void onPump(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

  // The loop's thread's, or the caller's under the loop's lock.
  SampleClock clock_;
  State state_ = State::starting;
  char startError_[256] = {};
  pa_mainloop_api* api_ = nullptr;
  std::optional<SinkFollower> follower_;
  // Timers belong to the loop, which frees them with itself.
  pa_time_event* startTimer_ = nullptr;
  pa_time_event* reconnect_ = nullptr;
  pa_time_event* pump_ = nullptr;
  std::int64_t attemptStartedAt_ = 0;
  std::int64_t tailEnd_ = 0;
  bool quiet_ = false;  // the pump's last tick found no audio coming
  // Dropped in this order, the stopped loop last.
  ThreadedLoop loop_;
  LoopContext context_;
  std::unique_ptr<MonitorStream> stream_;
};

}  // namespace mirlet::pulse
