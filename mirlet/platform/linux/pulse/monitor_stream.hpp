#pragma once
// One record stream on the monitor of an output, pinned there: when the monitor goes, the stream
// ends instead of moving to the default source, so a microphone is never recorded. Its audio goes
// to the recording's clock. On the loop's thread only.

#include <pulse/context.h>

#include <cstdint>
#include <memory>
#include <string>

#include "mirlet/platform/linux/pulse/sample_clock.hpp"
#include "mirlet/platform/linux/pulse/threaded_loop.hpp"
#include "mirlet/platform/result.hpp"

namespace mirlet::pulse {

class MonitorStream {
 public:
  // What the stream tells its owner. Misplaced and ended each mean the stream must go; the owner
  // may drop it during the call, which is the call's last act.
  class Owner {
   public:
    virtual void streamReady() = 0;       // recording from the monitor asked for
    virtual void streamMisplaced() = 0;   // the server linked it to another source
    virtual void streamEnded() = 0;       // the monitor went with its output, or the server goes
    virtual void streamDelivered() = 0;   // audio arrived
   protected:
    ~Owner() = default;
  };

  // Asks for a stream on `monitor`; why it cannot be asked for.
  static Result<std::unique_ptr<MonitorStream>> open(pa_context* context,
                                                     const std::string& monitor, Owner& owner,
                                                     SampleClock& clock, std::int64_t now);
  ~MonitorStream();
  MonitorStream(const MonitorStream&) = delete;
  MonitorStream& operator=(const MonitorStream&) = delete;

  // When the stream was asked for.
  std::int64_t madeAt() const { return madeAt_; }

 private:
  MonitorStream(std::string monitor, Owner& owner, SampleClock& clock, std::int64_t now)
      : monitor_(std::move(monitor)), owner_(owner), clock_(clock), madeAt_(now) {}
  static void onState(pa_stream* stream, void* self);
  static void onRead(pa_stream* stream, std::size_t bytes, void* self);
  void changed(pa_stream* stream);
  void read(pa_stream* stream);
  std::int64_t latencyNanoseconds() const;

  LoopStream stream_;
  const std::string monitor_;
  Owner& owner_;
  SampleClock& clock_;
  const std::int64_t madeAt_;
  std::int64_t runLatency_ = 0;  // how long before its arrival the run's first frame was captured
};

// The monotonic clock, which the recording's time follows.
std::int64_t monotonicNanoseconds();

}  // namespace mirlet::pulse
