#include "mirlet/platform/linux/pulse/audio_hardware.hpp"

namespace mirlet::pulse {
namespace {
class StubHardware final : public AudioHardware {
 public:
  OSStatus getPropertyDataSize(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                               const void*, std::uint32_t&) override {
    return -1;
  }
  OSStatus getPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                           const void*, std::uint32_t&, void*) override {
    return -1;
  }
};
}  // namespace
std::unique_ptr<AudioHardware> makeAudioHardware() { return std::make_unique<StubHardware>(); }
}  // namespace mirlet::pulse
