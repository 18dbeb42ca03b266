#include "mirlet/platform/linux/ffmpeg/asset_writing.hpp"

namespace mirlet::ffmpeg {
namespace {
class StubWriting final : public AssetWriting {
 public:
  Result<std::unique_ptr<AssetWriter>> makeAssetWriter(const std::string&, FileType) override {
    return failure("not built yet");
  }
};
}  // namespace
std::unique_ptr<AssetWriting> makeAssetWriting() { return std::make_unique<StubWriting>(); }
}  // namespace mirlet::ffmpeg
