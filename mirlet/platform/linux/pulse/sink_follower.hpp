#pragma once
// Follows the sound server's default output: asks for it by name (server info, then the sink's
// own monitor) when the connection is ready, and again whenever the server or its sinks change,
// and tells its target which monitor to record. One question at a time; what changes meanwhile is
// asked again after it. On the loop's thread only.

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/subscribe.h>

#include <cstdint>
#include <string>

namespace mirlet::pulse {

class SinkFollower {
 public:
  class Target {
   public:
    // Record this monitor from now on, in place of whatever was recorded.
    virtual void record(const std::string& monitor) = 0;
    // There is no output: nothing to record. Throws nothing.
    virtual void recordNothing() = 0;
    virtual bool recording() const = 0;
   protected:
    ~Target() = default;
  };

  SinkFollower(pa_mainloop_api* api, Target& target) : api_(api), target_(target) {}

  // A new connection is ready: its events are followed, and the default output asked for.
  void follow(pa_context* context);
  // The connection went: nothing is asked until the next one.
  void lose();
  // The recorded stream ended: the default output is asked for again.
  void ended();
  // The recorded stream was linked to another source: asked again shortly, a few times, then
  // every few seconds.
  void misplaced();
  // The recorded stream is where it was asked to be.
  void placed() { misplaced_ = 0; }
  // Nothing more is asked.
  void stop() { stopped_ = true; }

 private:
  void resolve();
  void resolved();
  void forget();
  void retryLater(int milliseconds);
  void recover() noexcept;
  void changed(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index);
  void serverInfo(pa_context* context, const pa_server_info* info);
  void sinkInfo(pa_context* context, const pa_sink_info* info, int last);
  static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                      void* self);
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
  static void onSinkInfo(pa_context* context, const pa_sink_info* info, int last, void* self);
  static void onRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

  pa_mainloop_api* const api_;
  Target& target_;
  pa_context* context_ = nullptr;
  pa_time_event* retry_ = nullptr;  // the loop's, freed with it
  std::string sinkName_;            // the output whose monitor is recorded
  std::uint32_t sinkIndex_ = PA_INVALID_INDEX;
  bool resolving_ = false;  // a question about the default output is on its way
  bool again_ = false;      // ask again once it is answered
  bool sinkFound_ = false;
  int misplaced_ = 0;  // streams in a row that were linked to another source
  bool stopped_ = false;
};

}  // namespace mirlet::pulse
