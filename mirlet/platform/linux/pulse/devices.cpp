#include "mirlet/platform/linux/pulse/devices.hpp"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mirlet/platform/linux/pulse/device_mapping.hpp"

namespace mirlet::pulse {
namespace {

using Clock = std::chrono::steady_clock;

// The context goes (disconnected) before the main loop it runs on, and an operation is cancelled
// before it is let go, so no callback can reach a collector that is gone.
struct MainloopFree {
  void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextDisconnect {
  void operator()(pa_context* context) const {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
};
struct OperationCancel {
  void operator()(pa_operation* operation) const {
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
  }
};
using Mainloop = std::unique_ptr<pa_mainloop, MainloopFree>;
using Context = std::unique_ptr<pa_context, ContextDisconnect>;
using Operation = std::unique_ptr<pa_operation, OperationCancel>;

// What the three answers fill in, and how many are still to come.
struct Collector {
  std::string defaultSink;
  std::vector<SinkFacts> sinks;
  bool inputInUse = false;
  int pending = 0;
  bool failed = false;
};

std::string text(const char* value) {
  return value != nullptr ? std::string(value) : "";
}

std::string property(const pa_proplist* list, const char* key) {
  return list != nullptr ? text(pa_proplist_gets(list, key)) : "";
}

bool anyRaopProperty(const pa_proplist* list) {
  void* state = nullptr;
  while (const char* key = list != nullptr ? pa_proplist_iterate(list, &state) : nullptr)
    if (std::string_view(key).starts_with("raop.")) return true;
  return false;
}

SinkFacts factsOf(const pa_sink_info& info) {
  SinkFacts sink{.name = text(info.name),
                 .description = text(info.description),
                 .driver = text(info.driver),
                 .bus = property(info.proplist, PA_PROP_DEVICE_BUS),
                 .formFactor = property(info.proplist, PA_PROP_DEVICE_FORM_FACTOR),
                 .deviceClass = property(info.proplist, PA_PROP_DEVICE_CLASS),
                 .profileName = property(info.proplist, PA_PROP_DEVICE_PROFILE_NAME),
                 .factoryName = property(info.proplist, "factory.name"),
                 .nodeVirtual = property(info.proplist, "node.virtual") == "true",
                 .raop = anyRaopProperty(info.proplist)};
  if (info.active_port != nullptr)
    sink.activePort = PortFacts{text(info.active_port->name),
                                static_cast<pa_device_port_type_t>(info.active_port->type)};
  return sink;
}

// Callbacks run inside libpulse: nothing may leave them as an exception.
template <class Body>
void guarded(Collector& collector, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    collector.failed = true;
  }
}

// An item of a list, or its end (`info` null), when the list failed too.
template <class Info, class Take>
void onItem(const Info* info, int eol, Collector& collector, Take take) {
  guarded(collector, [&] {
    if (eol == 0 && info != nullptr) return take(*info);
    --collector.pending;
    if (eol < 0) collector.failed = true;
  });
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto& collector = *static_cast<Collector*>(userdata);
  guarded(collector, [&] {
    --collector.pending;
    if (info == nullptr)
      collector.failed = true;
    else
      collector.defaultSink = text(info->default_sink_name);
  });
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto& collector = *static_cast<Collector*>(userdata);
  onItem(info, eol, collector,
         [&](const pa_sink_info& sink) { collector.sinks.push_back(factsOf(sink)); });
}

// A monitor only mirrors what a sink plays: recording it is no use of a microphone. Any other
// source with channels is an input device, real or virtual.
void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto& collector = *static_cast<Collector*>(userdata);
  onItem(info, eol, collector, [&](const pa_source_info& source) {
    if (source.monitor_of_sink == PA_INVALID_INDEX && source.sample_spec.channels > 0 &&
        source.state == PA_SOURCE_RUNNING)
      collector.inputInUse = true;
  });
}

// Runs the loop until `done` holds; false when the deadline passes first or the loop breaks.
// Each poll waits no longer than the time that is left.
template <class Done>
bool runUntil(pa_mainloop* loop, Clock::time_point deadline, Done done) {
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const int timeout = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
    if (pa_mainloop_prepare(loop, timeout) < 0) return false;
    if (pa_mainloop_poll(loop) < 0) return false;
    if (pa_mainloop_dispatch(loop) < 0) return false;
  }
  return true;
}

bool connected(pa_context* context) {
  return pa_context_get_state(context) == PA_CONTEXT_READY;
}

}  // namespace

Result<DeviceAnswers> askDevices(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  const Mainloop loop(pa_mainloop_new());
  if (!loop) return failure("cannot make a sound server loop");
  const Context context(pa_context_new(pa_mainloop_get_api(loop.get()), "mirlet"));
  if (!context) return failure("cannot make a sound server context");
  // A question about the devices must not start a sound server that nobody asked for, even where
  // client.conf allows autospawn.
  if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return failure(pa_strerror(pa_context_errno(context.get())));
  const bool settled = runUntil(loop.get(), deadline, [&] {
    return connected(context.get()) || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context.get()));
  });
  if (!settled) return failure("timed out waiting for the sound server");
  if (!connected(context.get())) return failure(pa_strerror(pa_context_errno(context.get())));

  // The three questions go out together and are answered on one round trip.
  Collector collector;
  const Operation operations[] = {
      Operation(pa_context_get_server_info(context.get(), onServerInfo, &collector)),
      Operation(pa_context_get_sink_info_list(context.get(), onSink, &collector)),
      Operation(pa_context_get_source_info_list(context.get(), onSource, &collector)),
  };
  for (const auto& operation : operations) {
    if (!operation) return failure(pa_strerror(pa_context_errno(context.get())));
    ++collector.pending;
  }
  const bool answered = runUntil(loop.get(), deadline, [&] {
    return collector.pending == 0 || collector.failed || !connected(context.get());
  });
  if (!answered || collector.pending != 0 || collector.failed)
    return failure("the sound server did not answer in full");

  DeviceAnswers answers{.inputInUse = collector.inputInUse};
  if (!collector.defaultSink.empty()) {
    const auto found = std::ranges::find(collector.sinks, collector.defaultSink, &SinkFacts::name);
    if (found != collector.sinks.end()) answers.defaultOutput = describeSink(*found);
  }
  return answers;
}

}  // namespace mirlet::pulse
