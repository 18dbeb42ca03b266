#include "mirlet/platform/linux/pulse/device_properties.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <expected>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "mirlet/platform/linux/pulse/device_mapping.hpp"

namespace mirlet::pulse {
namespace {

// The value forms: device identifiers, a stream configuration (one entry per buffer, holding its
// channel count), a four-character code or flag, and a name.
using DeviceList = std::vector<AudioObjectID>;
struct StreamConfiguration {
  std::vector<std::uint32_t> bufferChannels;
};
struct Name {
  std::string text;
};
using Value = std::variant<DeviceList, StreamConfiguration, std::uint32_t, Name>;

DeviceList deviceList(const ServerSnapshot& snapshot) {
  DeviceList list;
  for (const auto& sink : snapshot.sinks)
    if (auto id = deviceIdentifier(DeviceKind::sink, sink.index)) list.push_back(*id);
  for (const auto& source : snapshot.sources)
    if (!source.monitor)
      if (auto id = deviceIdentifier(DeviceKind::source, source.index)) list.push_back(*id);
  return list;
}

// Monitors are not devices of their own, so their identifiers name nothing.
const DeviceSnapshot* findDevice(const ServerSnapshot& snapshot, AudioObjectID object) {
  for (const auto& sink : snapshot.sinks)
    if (deviceIdentifier(DeviceKind::sink, sink.index) == object) return &sink;
  for (const auto& source : snapshot.sources)
    if (!source.monitor && deviceIdentifier(DeviceKind::source, source.index) == object)
      return &source;
  return nullptr;
}

std::expected<Value, OSStatus> systemProperty(const ServerSnapshot& snapshot,
                                              const AudioObjectPropertyAddress& address) {
  if (address.mScope != kAudioObjectPropertyScopeGlobal) return std::unexpected(kUnknownProperty);
  if (address.mSelector == kAudioHardwarePropertyDevices) return deviceList(snapshot);
  if (address.mSelector == kAudioHardwarePropertyDefaultOutputDevice) {
    for (const auto& sink : snapshot.sinks)
      if (!snapshot.defaultSinkName.empty() && sink.name == snapshot.defaultSinkName)
        if (auto id = deviceIdentifier(DeviceKind::sink, sink.index)) return *id;
    return std::unexpected(kUnknownProperty);
  }
  return std::unexpected(kUnknownProperty);
}

std::expected<Value, OSStatus> deviceProperty(const DeviceSnapshot& device,
                                              const AudioObjectPropertyAddress& address) {
  const std::uint32_t selector = address.mSelector;
  const std::uint32_t scope = address.mScope;
  const bool sink = device.kind == DeviceKind::sink;
  if (selector == kAudioDevicePropertyStreamConfiguration &&
      scope == kAudioObjectPropertyScopeInput) {
    if (sink) return StreamConfiguration{};
    return StreamConfiguration{{device.channels}};
  }
  if (scope == kAudioObjectPropertyScopeGlobal) {
    if (selector == kAudioDevicePropertyDeviceIsRunningSomewhere)
      return std::uint32_t{device.running ? 1u : 0u};
    if (selector == kAudioDevicePropertyTransportType) return transportCode(device);
    if (selector == kAudioObjectPropertyName) return Name{deviceName(device)};
  }
  if (selector == kAudioDevicePropertyDataSource && scope == kAudioObjectPropertyScopeOutput &&
      sink) {
    if (auto code = outputDataSource(device)) return *code;
  }
  return std::unexpected(kUnknownProperty);
}

std::expected<Value, OSStatus> lookUp(const ServerSnapshot* snapshot, AudioObjectID object,
                                      const AudioObjectPropertyAddress& address) {
  if (snapshot == nullptr) return std::unexpected(kHardwareNotRunning);
  if (address.mElement != kAudioObjectPropertyElementMain) return std::unexpected(kUnknownProperty);
  if (object == kAudioObjectSystemObject) return systemProperty(*snapshot, address);
  const DeviceSnapshot* device = findDevice(*snapshot, object);
  if (device == nullptr) return std::unexpected(kBadObject);
  return deviceProperty(*device, address);
}

std::uint32_t sizeOf(const Value& value) {
  struct Sizes {
    std::uint32_t operator()(const DeviceList& list) const {
      return static_cast<std::uint32_t>(list.size() * sizeof(AudioObjectID));
    }
    std::uint32_t operator()(const StreamConfiguration& configuration) const {
      return static_cast<std::uint32_t>(
          audioBufferListSize(static_cast<std::uint32_t>(configuration.bufferChannels.size())));
    }
    std::uint32_t operator()(std::uint32_t) const { return sizeof(std::uint32_t); }
    std::uint32_t operator()(const Name&) const { return sizeof(AudioStringRef); }
  };
  return std::visit(Sizes{}, value);
}

// Copies `value` into `data` the way Core Audio does: a device list is cut to the whole
// identifiers that fit, every other form needs its full size. Written byte-wise, since the
// caller's memory need not be aligned for the value's type.
OSStatus write(const Value& value, std::uint32_t& dataSize, std::byte* data) {
  if (data == nullptr && dataSize > 0) return kBadPropertySize;
  if (const auto* list = std::get_if<DeviceList>(&value)) {
    const std::size_t count = std::min<std::size_t>(list->size(), dataSize / sizeof(AudioObjectID));
    if (count > 0) std::memcpy(data, list->data(), count * sizeof(AudioObjectID));
    dataSize = static_cast<std::uint32_t>(count * sizeof(AudioObjectID));
    return 0;
  }
  const std::uint32_t needed = sizeOf(value);
  if (dataSize < needed) return kBadPropertySize;
  if (const auto* configuration = std::get_if<StreamConfiguration>(&value)) {
    const auto count = static_cast<std::uint32_t>(configuration->bufferChannels.size());
    std::memcpy(data + offsetof(AudioBufferList, mNumberBuffers), &count, sizeof count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const AudioBuffer entry{configuration->bufferChannels[i], 0, nullptr};
      std::memcpy(data + offsetof(AudioBufferList, mBuffers) + i * sizeof(AudioBuffer), &entry,
                  sizeof entry);
    }
  } else if (const auto* code = std::get_if<std::uint32_t>(&value)) {
    std::memcpy(data, code, sizeof *code);
  } else {
    // The caller owns the string from here on.
    const AudioStringRef name = new std::string(std::get<Name>(value).text);
    std::memcpy(data, &name, sizeof name);
  }
  dataSize = needed;
  return 0;
}

}  // namespace

SnapshotAudioHardware::SnapshotAudioHardware(TakeSnapshot take) : take_(std::move(take)) {}

const ServerSnapshot* SnapshotAudioHardware::snapshot() {
  std::call_once(taken_, [this] { snapshot_ = take_(); });
  return snapshot_ ? &*snapshot_ : nullptr;
}

OSStatus SnapshotAudioHardware::getPropertyDataSize(AudioObjectID object,
                                                    const AudioObjectPropertyAddress& address,
                                                    std::uint32_t, const void*,
                                                    std::uint32_t& dataSize) {
  const auto value = lookUp(snapshot(), object, address);
  if (!value) return value.error();
  dataSize = sizeOf(*value);
  return 0;
}

OSStatus SnapshotAudioHardware::getPropertyData(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t, const void*, std::uint32_t& dataSize,
                                                void* data) {
  const auto value = lookUp(snapshot(), object, address);
  if (!value) return value.error();
  return write(*value, dataSize, static_cast<std::byte*>(data));
}

}  // namespace mirlet::pulse
