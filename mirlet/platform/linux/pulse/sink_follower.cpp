#include "mirlet/platform/linux/pulse/sink_follower.hpp"

#include <pulse/timeval.h>

#include "mirlet/platform/linux/pulse/threaded_loop.hpp"

namespace mirlet::pulse {
namespace {

// Asked again this soon after an event: PipeWire's server announces a new default in steps
// (twice on an unplug), and an answer read between them can still name the old one.
constexpr int kSettleMilliseconds = 250;
// A stream linked to another source than the monitor asked for is tried again, soon for the first
// few times, then every few seconds.
constexpr int kMisplacedRetries = 8;
constexpr int kMisplacedBackoffMilliseconds = 3000;

}  // namespace

void SinkFollower::follow(pa_context* context) {
  context_ = context;
  resolving_ = again_ = false;
  forget();
  pa_context_set_subscribe_callback(context, &SinkFollower::onEvent, this);
  const auto mask =
      static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK);
  if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr))
    pa_operation_unref(op);
  resolve();
}

void SinkFollower::lose() {
  context_ = nullptr;
  resolving_ = again_ = false;
  forget();
}

void SinkFollower::ended() {
  forget();
  resolve();
}

void SinkFollower::misplaced() {
  forget();
  retryLater(misplaced_++ < kMisplacedRetries ? kSettleMilliseconds
                                              : kMisplacedBackoffMilliseconds);
}

void SinkFollower::forget() {
  sinkName_.clear();
  sinkIndex_ = PA_INVALID_INDEX;
}

void SinkFollower::retryLater(int milliseconds) {
  timeval at{};
  pa_gettimeofday(&at);
  pa_timeval_add(&at, static_cast<pa_usec_t>(milliseconds) * PA_USEC_PER_MSEC);
  if (retry_ == nullptr) retry_ = api_->time_new(api_, &at, &SinkFollower::onRetry, this);
  else api_->time_restart(retry_, &at);
}

// Nothing is recorded meanwhile, and the default output is asked for again shortly.
void SinkFollower::recover() noexcept {
  resolving_ = again_ = false;
  forget();
  target_.recordNothing();
  retryLater(kSettleMilliseconds);
}

void SinkFollower::onRetry(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
  auto& self = *static_cast<SinkFollower*>(userdata);
  shielded([&] { self.resolve(); }, [&] { self.recover(); });
}

void SinkFollower::onEvent(pa_context* context, pa_subscription_event_type_t type,
                           std::uint32_t index, void* userdata) {
  auto& self = *static_cast<SinkFollower*>(userdata);
  shielded([&] { self.changed(context, type, index); }, [&] { self.recover(); });
}

void SinkFollower::changed(pa_context* context, pa_subscription_event_type_t type,
                           std::uint32_t index) {
  if (context != context_) return;
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  const bool defaultMayHaveChanged = facility == PA_SUBSCRIPTION_EVENT_SERVER;
  const bool recordedSinkGone = facility == PA_SUBSCRIPTION_EVENT_SINK &&
                                kind == PA_SUBSCRIPTION_EVENT_REMOVE && index == sinkIndex_;
  const bool firstSink = facility == PA_SUBSCRIPTION_EVENT_SINK &&
                         kind == PA_SUBSCRIPTION_EVENT_NEW && !target_.recording();
  if (defaultMayHaveChanged || recordedSinkGone || firstSink) {
    resolve();
    retryLater(kSettleMilliseconds);
  }
}

void SinkFollower::resolve() {
  if (context_ == nullptr || stopped_) return;
  if (resolving_) {
    again_ = true;
    return;
  }
  resolving_ = true;
  pa_operation* op = pa_context_get_server_info(context_, &SinkFollower::onServerInfo, this);
  if (op == nullptr) return resolved();
  pa_operation_unref(op);
}

void SinkFollower::resolved() {
  resolving_ = false;
  if (again_) {
    again_ = false;
    resolve();
  }
}

void SinkFollower::onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
  auto& self = *static_cast<SinkFollower*>(userdata);
  shielded([&] { self.serverInfo(context, info); }, [&] { self.recover(); });
}

void SinkFollower::serverInfo(pa_context* context, const pa_server_info* info) {
  if (context != context_ || stopped_) return;
  const char* sink = info != nullptr ? info->default_sink_name : nullptr;
  if (sink == nullptr || *sink == '\0') {
    forget();
    target_.recordNothing();
    return resolved();
  }
  // What is recorded already is the default still.
  if (target_.recording() && sinkName_ == sink) return resolved();
  sinkFound_ = false;
  pa_operation* op =
      pa_context_get_sink_info_by_name(context, sink, &SinkFollower::onSinkInfo, this);
  if (op == nullptr) {
    forget();
    target_.recordNothing();
    return resolved();
  }
  pa_operation_unref(op);
}

void SinkFollower::onSinkInfo(pa_context* context, const pa_sink_info* info, int last,
                              void* userdata) {
  auto& self = *static_cast<SinkFollower*>(userdata);
  shielded([&] { self.sinkInfo(context, info, last); }, [&] { self.recover(); });
}

void SinkFollower::sinkInfo(pa_context* context, const pa_sink_info* info, int last) {
  if (context != context_ || stopped_) return;
  if (info == nullptr || last != 0) {
    // The end of the list, or an error such as a sink that went away meanwhile.
    if (!sinkFound_) {
      forget();
      target_.recordNothing();
    }
    return resolved();
  }
  sinkFound_ = true;
  if (info->monitor_source_name == nullptr || *info->monitor_source_name == '\0') {
    forget();
    return target_.recordNothing();
  }
  sinkName_ = info->name;
  sinkIndex_ = info->index;
  target_.record(info->monitor_source_name);
}

}  // namespace mirlet::pulse
