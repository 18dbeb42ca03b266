#include "mirlet/platform/linux/png/png_output.hpp"

#include <spng.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace mirlet::png {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
struct ContextDeleter {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

// Chosen by measurement on a photo-like 2560 x 1600 picture doubled from 1280 x 800 (see
// bench/screen.sh): level 1 with Z_RLE is the fastest setting tried, and its file is no larger
// than ImageMagick's at zlib's default level with adaptive filters. The filter is picked here per
// row: Up for a row that repeats the one above (it filters to zeros), Sub for any other (a pixel
// that repeats its left neighbour filters to zeros). libspng's own choice tries both on every row
// and picked the same ones, at half again the time.
constexpr int kLevel = 1;
constexpr int kStrategy = Z_RLE;

void toRgb(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}

bool encode(spng_ctx* context, const Image& image) {
  spng_ihdr header{};
  header.width = image.width;
  header.height = image.height;
  header.bit_depth = 8;
  header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  if (spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, kLevel) != 0 ||
      spng_set_option(context, SPNG_IMG_COMPRESSION_STRATEGY, kStrategy) != 0 ||
      spng_set_option(context, SPNG_FILTER_CHOICE,
                      SPNG_FILTER_CHOICE_SUB | SPNG_FILTER_CHOICE_UP) != 0 ||
      spng_set_ihdr(context, &header) != 0)
    return false;
  if (spng_encode_image(context, nullptr, 0, SPNG_FMT_PNG,
                        SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) != 0)
    return false;
  const std::size_t rowSize = std::size_t{image.width} * 3;
  std::vector<std::uint8_t> rows(2 * rowSize);
  int filter = 0;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::uint8_t* row = rows.data() + (y % 2) * rowSize;
    const std::uint8_t* above = rows.data() + ((y + 1) % 2) * rowSize;
    toRgb(image.row(y), row, image.width);
    const int wanted = y > 0 && std::memcmp(row, above, rowSize) == 0 ? SPNG_FILTER_CHOICE_UP
                                                                        : SPNG_FILTER_CHOICE_SUB;
    if (wanted != filter) {
      if (spng_set_option(context, SPNG_FILTER_CHOICE, wanted) != 0) return false;
      filter = wanted;
    }
    const int status = spng_encode_row(context, row, rowSize);
    // The last row finishes the file and says so.
    if (status != 0 && !(status == SPNG_EOI && y + 1 == image.height)) return false;
  }
  return true;
}

class SpngOutput final : public ImageOutput {
 public:
  bool writePNG(const Image& image, const std::string& to) override {
    if (image.width == 0 || image.height == 0) return false;  // PNG has no empty pictures
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(to.c_str(), "wb"));
    if (!file) return false;
    {
      std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(SPNG_CTX_ENCODER));
      if (!context || spng_set_png_file(context.get(), file.get()) != 0) return false;
      if (!encode(context.get(), image)) return false;
    }
    // Only a clean close proves every byte reached the file.
    return std::fclose(file.release()) == 0;
  }
};

}  // namespace

std::unique_ptr<ImageOutput> makeImageOutput() { return std::make_unique<SpngOutput>(); }

}  // namespace mirlet::png
