#include "mirlet/audio/device_queries.hpp"

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace mirlet {
namespace {

constexpr AudioObjectPropertyAddress address(std::uint32_t selector, std::uint32_t scope) {
  return {selector, scope, kAudioObjectPropertyElementMain};
}

// Whether any entry of a stream configuration holds a channel. Entries are read byte-wise at
// their offsets, and only those that lie wholly inside the `size` bytes: a count that claims more
// entries than the value holds never leads past its end.
bool anyChannel(const std::byte* list, std::size_t size) {
  if (size < sizeof(std::uint32_t)) return false;
  std::uint32_t count = 0;
  std::memcpy(&count, list + offsetof(AudioBufferList, mNumberBuffers), sizeof count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = offsetof(AudioBufferList, mBuffers) + i * sizeof(AudioBuffer);
    if (entry + sizeof(AudioBuffer) > size) break;
    std::uint32_t channels = 0;
    std::memcpy(&channels, list + entry + offsetof(AudioBuffer, mNumberChannels), sizeof channels);
    if (channels > 0) return true;
  }
  return false;
}

}  // namespace

bool micBusy(AudioHardware& hardware) {
  const auto devices = address(kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal);
  std::uint32_t size = 0;
  if (hardware.getPropertyDataSize(kAudioObjectSystemObject, devices, 0, nullptr, size) != 0)
    return false;
  const std::size_t count = size / sizeof(AudioObjectID);
  if (count == 0) return false;
  std::vector<AudioObjectID> identifiers(count, 0);
  // The capacity is what the list can hold: a size that is no multiple of 4 must not let the
  // read run past its end.
  std::uint32_t capacity = static_cast<std::uint32_t>(count * sizeof(AudioObjectID));
  if (hardware.getPropertyData(kAudioObjectSystemObject, devices, 0, nullptr, capacity,
                               identifiers.data()) != 0)
    return false;
  for (const AudioObjectID device : identifiers) {
    if (!deviceHasInputChannels(hardware, device)) continue;
    if (deviceIsRunning(hardware, device)) return true;
  }
  return false;
}

bool deviceHasInputChannels(AudioHardware& hardware, AudioObjectID device) {
  const auto configuration =
      address(kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
  std::uint32_t size = 0;
  if (hardware.getPropertyDataSize(device, configuration, 0, nullptr, size) != 0 || size == 0)
    return false;
  // Zeroed, so bytes that a successful read left alone count as no channels.
  const auto buffer = std::make_unique<std::byte[]>(size);
  std::uint32_t capacity = size;
  if (hardware.getPropertyData(device, configuration, 0, nullptr, capacity, buffer.get()) != 0)
    return false;
  return anyChannel(buffer.get(), size);
}

bool deviceIsRunning(AudioHardware& hardware, AudioObjectID device) {
  const auto running =
      address(kAudioDevicePropertyDeviceIsRunningSomewhere, kAudioObjectPropertyScopeGlobal);
  std::uint32_t value = 0;
  std::uint32_t capacity = sizeof value;
  return hardware.getPropertyData(device, running, 0, nullptr, capacity, &value) == 0 && value != 0;
}

std::optional<AudioObjectID> defaultOutputDevice(AudioHardware& hardware) {
  const auto output =
      address(kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);
  AudioObjectID device = 0;
  std::uint32_t capacity = sizeof device;
  if (hardware.getPropertyData(kAudioObjectSystemObject, output, 0, nullptr, capacity, &device) !=
      0)
    return std::nullopt;
  return device;
}

std::string fourCC(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned char>((code >> shift) & 0xFF);
    if (byte > 0x7F) return {};
    text += static_cast<char>(byte);
  }
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace mirlet
