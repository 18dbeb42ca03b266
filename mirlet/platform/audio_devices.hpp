#pragma once
// The two things mirlet asks about the machine's audio devices: is a microphone recording, and
// what is the default output.

#include <cstdint>
#include <optional>
#include <string>

namespace mirlet {

struct OutputDevice {
  // A four-character code: 'usb ', 'blue', 'bltn', 'hdmi', 'dprt', 'airp', 'virt', …; 0 when
  // nothing tells.
  std::uint32_t transport = 0;
  // The name people see.
  std::string name;
  // The active port or the device's form factor is headphones (a headset counts).
  bool headphonesPort = false;
};

class AudioDevices {
 public:
  virtual ~AudioDevices() = default;
  // Whether some input device that is not the monitor of an output is running; nullopt when the
  // sound server cannot be asked.
  virtual std::optional<bool> inputInUse() = 0;
  // Nullopt when there is no default output or no server to ask.
  virtual std::optional<OutputDevice> defaultOutput() = 0;
};

}  // namespace mirlet
