#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

namespace mirlet::pulse {
namespace {
class StubStream final : public CaptureStream {
 public:
  Result<void> addStreamOutput(std::shared_ptr<StreamOutput>, StreamOutputType,
                               const std::string&) override {
    return failure("not built yet");
  }
  void startCapture(Completion<void> completion) override { completion(failure("not built yet")); }
  void stopCapture(Completion<void> completion) override { completion({}); }
};
}  // namespace
std::shared_ptr<CaptureStream> makeSystemAudioStream(const StreamConfiguration&,
                                                     std::shared_ptr<StreamDelegate>) {
  return std::make_shared<StubStream>();
}
}  // namespace mirlet::pulse
