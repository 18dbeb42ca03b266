#include "mirlet/platform/linux/ffmpeg/asset_writing.hpp"

#include "mirlet/platform/linux/ffmpeg/m4a_writer.hpp"

namespace mirlet::ffmpeg {
namespace {

class FfmpegAssetWriting final : public AssetWriting {
 public:
  Result<std::unique_ptr<AssetWriter>> makeAssetWriter(const std::string& path,
                                                       FileType type) override {
    if (type != FileType::appleM4A) return failure("unsupported file type");
    return makeM4aWriter(path);
  }
};

}  // namespace

std::unique_ptr<AssetWriting> makeAssetWriting() { return std::make_unique<FfmpegAssetWriting>(); }

}  // namespace mirlet::ffmpeg
