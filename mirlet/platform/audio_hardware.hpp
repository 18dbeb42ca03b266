#pragma once
// Audio hardware properties, read the Core Audio way: an object, a property address, and a value
// of a known form copied into the caller's memory.

#include <cstddef>
#include <cstdint>
#include <string>

#include "mirlet/platform/four_char_code.hpp"

namespace mirlet {

using AudioObjectID = std::uint32_t;
using OSStatus = std::int32_t;  // 0 is success, anything else failure

constexpr AudioObjectID kAudioObjectSystemObject = 1;

struct AudioObjectPropertyAddress {
  std::uint32_t mSelector;
  std::uint32_t mScope;
  std::uint32_t mElement;
};

constexpr std::uint32_t kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
constexpr std::uint32_t kAudioObjectPropertyScopeInput = fourCharCode("inpt");
constexpr std::uint32_t kAudioObjectPropertyScopeOutput = fourCharCode("outp");
constexpr std::uint32_t kAudioObjectPropertyElementMain = 0;

constexpr std::uint32_t kAudioHardwarePropertyDevices = fourCharCode("dev#");
constexpr std::uint32_t kAudioDevicePropertyStreamConfiguration = fourCharCode("slay");
constexpr std::uint32_t kAudioDevicePropertyDeviceIsRunningSomewhere = fourCharCode("gone");
constexpr std::uint32_t kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut");
constexpr std::uint32_t kAudioDevicePropertyTransportType = fourCharCode("tran");
constexpr std::uint32_t kAudioObjectPropertyName = fourCharCode("lnam");
constexpr std::uint32_t kAudioDevicePropertyDataSource = fourCharCode("ssrc");

// A stream configuration: a count, then that many entries. Its size depends on the count, so it
// is always read into memory sized by a size query.
struct AudioBuffer {
  std::uint32_t mNumberChannels;
  std::uint32_t mDataByteSize;
  void* mData;
};
struct AudioBufferList {
  std::uint32_t mNumberBuffers;
  AudioBuffer mBuffers[1];
};
constexpr std::size_t audioBufferListSize(std::uint32_t buffers) {
  return offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * buffers;
}

// The value form of a name: one pointer to a string made for the caller, who then owns it and
// deletes it.
using AudioStringRef = std::string*;

class AudioHardware {
 public:
  virtual ~AudioHardware() = default;
  // The byte size of the property's current value.
  virtual OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                       std::uint32_t qualifierSize, const void* qualifier,
                                       std::uint32_t& dataSize) = 0;
  // Copies the value into `data`, whose capacity `dataSize` gives; `dataSize` is set to the bytes
  // written.
  virtual OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::uint32_t qualifierSize, const void* qualifier,
                                   std::uint32_t& dataSize, void* data) = 0;
};

}  // namespace mirlet
