#include "mirlet/platform/linux/pulse/snapshot_reader.hpp"

#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "mirlet/platform/linux/pulse/snapshot_handles.hpp"

namespace mirlet::pulse {
namespace {

using Clock = std::chrono::steady_clock;

// What the three answers fill in, and how many are still to come.
struct Collector {
  ServerSnapshot snapshot;
  int pending = 0;
  bool failed = false;
};

std::string text(const char* value) {
  return value != nullptr ? std::string(value) : std::string();
}

std::string property(const pa_proplist* list, const char* key) {
  return list != nullptr ? text(pa_proplist_gets(list, key)) : std::string();
}

PortType portType(int type) {
  switch (type) {
    case PA_DEVICE_PORT_TYPE_UNKNOWN:
      return PortType::unknown;
    case PA_DEVICE_PORT_TYPE_SPEAKER:
      return PortType::speaker;
    case PA_DEVICE_PORT_TYPE_HEADPHONES:
      return PortType::headphones;
    case PA_DEVICE_PORT_TYPE_HEADSET:
      return PortType::headset;
    case PA_DEVICE_PORT_TYPE_HANDSFREE:
      return PortType::handsfree;
    case PA_DEVICE_PORT_TYPE_LINE:
      return PortType::line;
    case PA_DEVICE_PORT_TYPE_HDMI:
      return PortType::hdmi;
    case PA_DEVICE_PORT_TYPE_SPDIF:
      return PortType::spdif;
    default:
      return PortType::other;
  }
}

template <class Info>
DeviceSnapshot deviceFrom(const Info& info, DeviceKind kind) {
  DeviceSnapshot device;
  device.kind = kind;
  device.index = info.index;
  device.name = text(info.name);
  device.description = text(info.description);
  device.driver = text(info.driver);
  device.channels = info.sample_spec.channels;
  if (info.active_port != nullptr)
    device.activePort =
        PortSnapshot{text(info.active_port->name), portType(info.active_port->type)};
  device.bus = property(info.proplist, PA_PROP_DEVICE_BUS);
  device.formFactor = property(info.proplist, PA_PROP_DEVICE_FORM_FACTOR);
  device.deviceClass = property(info.proplist, PA_PROP_DEVICE_CLASS);
  device.profileName = property(info.proplist, PA_PROP_DEVICE_PROFILE_NAME);
  if (info.proplist != nullptr) {
    void* state = nullptr;
    while (const char* key = pa_proplist_iterate(info.proplist, &state))
      device.propertyKeys.emplace_back(key);
  }
  return device;
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

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto& collector = *static_cast<Collector*>(userdata);
  guarded(collector, [&] {
    --collector.pending;
    if (info == nullptr) {
      collector.failed = true;
      return;
    }
    collector.snapshot.defaultSinkName = text(info->default_sink_name);
  });
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto& collector = *static_cast<Collector*>(userdata);
  guarded(collector, [&] {
    if (eol != 0 || info == nullptr) {
      --collector.pending;
      if (eol < 0) collector.failed = true;
      return;
    }
    DeviceSnapshot device = deviceFrom(*info, DeviceKind::sink);
    device.running = info->state == PA_SINK_RUNNING;
    collector.snapshot.sinks.push_back(std::move(device));
  });
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto& collector = *static_cast<Collector*>(userdata);
  guarded(collector, [&] {
    if (eol != 0 || info == nullptr) {
      --collector.pending;
      if (eol < 0) collector.failed = true;
      return;
    }
    DeviceSnapshot device = deviceFrom(*info, DeviceKind::source);
    device.running = info->state == PA_SOURCE_RUNNING;
    device.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    collector.snapshot.sources.push_back(std::move(device));
  });
}

// Runs the loop until `done` holds; false when the deadline passes first or the loop breaks.
// Each poll waits no longer than the time that is left.
bool runUntil(pa_mainloop* loop, Clock::time_point deadline, const std::function<bool()>& done) {
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

bool finished(pa_context* context) {
  const pa_context_state_t state = pa_context_get_state(context);
  return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

}  // namespace

std::optional<ServerSnapshot> readServerSnapshot(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  const Mainloop loop(pa_mainloop_new());
  if (!loop) return std::nullopt;
  const Context context(pa_context_new(pa_mainloop_get_api(loop.get()), "mirlet"));
  if (!context) return std::nullopt;
  // A question about the devices must not start a sound server that nobody asked for.
  if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return std::nullopt;
  if (!runUntil(loop.get(), deadline, [&] { return finished(context.get()); }) ||
      !connected(context.get()))
    return std::nullopt;

  // The three questions go out together and are answered on one round trip.
  Collector collector;
  const Operation operations[] = {
      Operation(pa_context_get_server_info(context.get(), onServerInfo, &collector)),
      Operation(pa_context_get_sink_info_list(context.get(), onSink, &collector)),
      Operation(pa_context_get_source_info_list(context.get(), onSource, &collector)),
  };
  for (const auto& operation : operations) {
    if (!operation) return std::nullopt;
    ++collector.pending;
  }
  const bool answered = runUntil(loop.get(), deadline, [&] {
    return collector.pending == 0 || collector.failed || !connected(context.get());
  });
  if (!answered || collector.pending != 0 || collector.failed) return std::nullopt;
  return std::move(collector.snapshot);
}

}  // namespace mirlet::pulse
