#pragma once

#include <memory>

#include "mirlet/platform/platform.hpp"

namespace mirlet {

// The platform of a Linux desktop. Connections to the X server and the sound server are opened by
// the operations that need them, so a command touches only the services it uses.
class LinuxPlatform {
 public:
  LinuxPlatform();
  ~LinuxPlatform();
  Platform& platform() { return *platform_; }

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  std::unique_ptr<Platform> platform_;
};

}  // namespace mirlet
