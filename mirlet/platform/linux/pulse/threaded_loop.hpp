#pragma once
// Owners for libpulse's threaded main loop, contexts and streams.

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <memory>

namespace mirlet::pulse {

struct ThreadedLoopDeleter {
  // Stops the loop's thread (joining it) first, unless called on that thread.
  void operator()(pa_threaded_mainloop* loop) const { pa_threaded_mainloop_free(loop); }
};
struct LoopContextDeleter {
  void operator()(pa_context* context) const {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
};
struct LoopStreamDeleter {
  void operator()(pa_stream* stream) const {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
  }
};

using ThreadedLoop = std::unique_ptr<pa_threaded_mainloop, ThreadedLoopDeleter>;
using LoopContext = std::unique_ptr<pa_context, LoopContextDeleter>;
using LoopStream = std::unique_ptr<pa_stream, LoopStreamDeleter>;

// Runs the body of a callback from libpulse: nothing may be thrown through libpulse's C frames.
// libpulse itself aborts when out of memory, so what could throw here is a copy of a name, and
// `recover` then leaves the capture where it can go on from.
template <class Body, class Recover>
void shielded(Body&& body, Recover&& recover) noexcept {
  try {
    body();
  } catch (...) {
    recover();
  }
}

// Holds the loop's lock for a scope; the loop's thread runs no callback meanwhile.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

}  // namespace mirlet::pulse
