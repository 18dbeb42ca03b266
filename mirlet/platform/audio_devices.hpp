#pragma once
// The two things mirlet asks about the machine's audio devices: is a microphone recording, and
// what is the default output.

#include <optional>
#include <string>

#include "mirlet/platform/result.hpp"

namespace mirlet {

// How an output device is attached.
enum class Transport {
  unknown,  // nothing tells
  builtIn,
  usb,
  bluetooth,
  firewire,
  thunderbolt,
  hdmi,
  displayPort,
  airPlay,
  virtualDevice,  // no hardware behind it: a null sink, a filter
};

struct OutputDevice {
  Transport transport = Transport::unknown;
  // The name people see.
  std::string name;
  // The active port or the device's form factor is worn: headphones, a headset, hands-free.
  bool headphonesPort = false;
};

class AudioDevices {
 public:
  virtual ~AudioDevices() = default;
  // Whether some input device that is not the monitor of an output is recording now.
  virtual Result<bool> inputInUse() = 0;
  // The default output, or nullopt when there is none.
  virtual Result<std::optional<OutputDevice>> defaultOutput() = 0;
};

}  // namespace mirlet
