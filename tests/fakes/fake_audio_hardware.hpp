#pragma once
// A property store for the device queries: each property holds raw value bytes, what its size
// query answers and the statuses of both queries; unknown properties fail. Every query is logged.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "mirlet/platform/audio_hardware.hpp"

namespace mirlet::testing {

class FakeAudioHardware final : public AudioHardware {
 public:
  static constexpr OSStatus kFailure = static_cast<OSStatus>(fourCharCode("who?"));
  static constexpr std::uint32_t kGlobal = kAudioObjectPropertyScopeGlobal;

  struct Property {
    std::vector<std::byte> bytes{};       // what a read copies out, up to the capacity
    std::optional<std::uint32_t> size{};  // the size query's answer; bytes.size() when absent
    OSStatus sizeStatus = 0;
    OSStatus dataStatus = 0;
    std::optional<std::string> name{};  // a name: a read hands out a new string instead
  };
  struct Query {
    bool sizeOnly;
    AudioObjectID object;
    std::uint32_t selector;
    std::uint32_t scope;
    std::uint32_t capacity;  // for reads
  };
  std::vector<Query> queries;

  void set(AudioObjectID object, std::uint32_t selector, std::uint32_t scope, Property value) {
    properties_[{object, selector, scope}] = std::move(value);
  }
  void failing(AudioObjectID object, std::uint32_t selector, std::uint32_t scope) {
    set(object, selector, scope, {.sizeStatus = kFailure, .dataStatus = kFailure});
  }

  static std::vector<std::byte> ids(const std::vector<AudioObjectID>& values) {
    std::vector<std::byte> bytes(values.size() * sizeof(AudioObjectID));
    if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
  }
  // A stream configuration with one entry per channel count; `count` overrides the stated number
  // of entries, to make a value that claims more than it holds.
  static std::vector<std::byte> bufferList(const std::vector<std::uint32_t>& channels,
                                           std::optional<std::uint32_t> count = std::nullopt) {
    const auto entries = static_cast<std::uint32_t>(channels.size());
    std::vector<std::byte> bytes(audioBufferListSize(entries));
    const std::uint32_t stated = count.value_or(entries);
    std::memcpy(bytes.data() + offsetof(AudioBufferList, mNumberBuffers), &stated, sizeof stated);
    for (std::uint32_t i = 0; i < entries; ++i) {
      const AudioBuffer entry{channels[i], 0, nullptr};
      std::memcpy(bytes.data() + offsetof(AudioBufferList, mBuffers) + i * sizeof(AudioBuffer),
                  &entry, sizeof entry);
    }
    return bytes;
  }

  void setDevices(const std::vector<AudioObjectID>& devices, std::optional<std::uint32_t> size = {},
                  OSStatus dataStatus = 0) {
    set(kAudioObjectSystemObject, kAudioHardwarePropertyDevices, kGlobal,
        {.bytes = ids(devices), .size = size, .dataStatus = dataStatus});
  }
  // A device with these input channels (none: an output device) and running flag.
  void setDevice(AudioObjectID device, const std::vector<std::uint32_t>& channels, bool running) {
    set(device, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
        {.bytes = bufferList(channels)});
    setCode(device, kAudioDevicePropertyDeviceIsRunningSomewhere, kGlobal, running ? 1 : 0);
  }
  void setCode(AudioObjectID object, std::uint32_t selector, std::uint32_t scope,
               std::uint32_t value) {
    set(object, selector, scope, {.bytes = ids({value})});
  }
  void setDefaultOutput(AudioObjectID device) {
    setCode(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, kGlobal, device);
  }
  void setName(AudioObjectID device, std::string name) {
    set(device, kAudioObjectPropertyName, kGlobal,
        {.size = sizeof(AudioStringRef), .name = std::move(name)});
  }

  int askedAbout(AudioObjectID object) const {
    return static_cast<int>(std::ranges::count(queries, object, &Query::object));
  }

  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::uint32_t, const void*, std::uint32_t& dataSize) override {
    queries.push_back({true, object, address.mSelector, address.mScope, 0});
    const Property* property = find(object, address);
    if (property == nullptr) return kFailure;
    if (property->sizeStatus != 0) return property->sizeStatus;
    dataSize = property->size.value_or(static_cast<std::uint32_t>(property->bytes.size()));
    return 0;
  }

  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                           std::uint32_t, const void*, std::uint32_t& dataSize,
                           void* data) override {
    queries.push_back({false, object, address.mSelector, address.mScope, dataSize});
    const Property* property = find(object, address);
    if (property == nullptr) return kFailure;
    if (property->dataStatus != 0) return property->dataStatus;
    if (property->name) {
      if (dataSize < sizeof(AudioStringRef)) return kFailure;
      const AudioStringRef handed = new std::string(*property->name);
      std::memcpy(data, &handed, sizeof handed);
      dataSize = sizeof handed;
      return 0;
    }
    const std::size_t copied = std::min<std::size_t>(dataSize, property->bytes.size());
    if (copied > 0) std::memcpy(data, property->bytes.data(), copied);
    dataSize = static_cast<std::uint32_t>(copied);
    return 0;
  }

 private:
  using Key = std::tuple<AudioObjectID, std::uint32_t, std::uint32_t>;
  const Property* find(AudioObjectID object, const AudioObjectPropertyAddress& address) const {
    if (address.mElement != kAudioObjectPropertyElementMain) return nullptr;
    const auto found = properties_.find({object, address.mSelector, address.mScope});
    return found == properties_.end() ? nullptr : &found->second;
  }
  std::map<Key, Property> properties_;
};

}  // namespace mirlet::testing
