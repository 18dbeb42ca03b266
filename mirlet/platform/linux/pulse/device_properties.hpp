#pragma once
// The audio device properties answered from one snapshot of the sound server, taken at the first
// query and kept for the rest of the run. Without a snapshot every query fails.

#include <functional>
#include <mutex>
#include <optional>

#include "mirlet/platform/audio_hardware.hpp"
#include "mirlet/platform/linux/pulse/snapshot_model.hpp"

namespace mirlet::pulse {

// Failure statuses, with the codes Core Audio uses for the same cases.
constexpr OSStatus kHardwareNotRunning = static_cast<OSStatus>(fourCharCode("stop"));
constexpr OSStatus kUnknownProperty = static_cast<OSStatus>(fourCharCode("who?"));
constexpr OSStatus kBadPropertySize = static_cast<OSStatus>(fourCharCode("!siz"));
constexpr OSStatus kBadObject = static_cast<OSStatus>(fourCharCode("!obj"));

class SnapshotAudioHardware final : public AudioHardware {
 public:
  // `take` is called once, at the first query; nullopt stands for no server.
  using TakeSnapshot = std::function<std::optional<ServerSnapshot>()>;
  explicit SnapshotAudioHardware(TakeSnapshot take);

  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::uint32_t qualifierSize, const void* qualifier,
                               std::uint32_t& dataSize) override;
  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                           std::uint32_t qualifierSize, const void* qualifier,
                           std::uint32_t& dataSize, void* data) override;

 private:
  const ServerSnapshot* snapshot();

  TakeSnapshot take_;
  std::once_flag taken_;
  std::optional<ServerSnapshot> snapshot_;
};

}  // namespace mirlet::pulse
