#include "mirlet/platform/linux/shell/sent_pixels.hpp"

#include <cstring>
#include <utility>

#include "mirlet/platform/linux/pixels/scale.hpp"

namespace mirlet::shell {
namespace {

constexpr std::int64_t kLargestSide = 1 << 15;

}  // namespace

Result<SentLayout> sentLayout(const Dictionary& reply, bool redFirst, std::size_t available) {
  const auto number = [&](const char* key) -> double {
    const auto found = reply.numbers.find(key);
    return found == reply.numbers.end() ? 0 : found->second;
  };
  const double width = number("width"), height = number("height"), stride = number("stride");
  if (!(width >= 1 && width <= kLargestSide && height >= 1 && height <= kLargestSide &&
        stride >= width * 4 && stride <= kLargestSide * 8))
    return failure("the desktop described a picture that cannot be read");
  const SentLayout layout{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                          static_cast<std::size_t>(stride), redFirst};
  if (layout.bytesPerRow * layout.height > available)
    return failure("the desktop sent " + std::to_string(available) + " bytes of a picture of " +
                   std::to_string(layout.bytesPerRow * layout.height));
  return layout;
}

Result<pixels::Picture> fromSent(pixels::Picture sent, bool redFirst, std::int64_t width,
                                 std::int64_t height) {
  if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide)
    return failure("no picture of that size can be taken");
  if (redFirst) {
    const mirlet_image& in = sent.image;
    sent = pixels::makePicture(in.width, in.height, [&](std::uint8_t* out, std::size_t stride) {
      for (std::uint32_t y = 0; y < in.height; ++y) {
        const std::uint8_t* from = in.pixels + y * in.bytes_per_row;
        std::uint8_t* to = out + y * stride;
        for (std::uint32_t x = 0; x < in.width; ++x) {
          to[4 * x] = from[4 * x + 2];
          to[4 * x + 1] = from[4 * x + 1];
          to[4 * x + 2] = from[4 * x];
          to[4 * x + 3] = from[4 * x + 3];
        }
      }
    });
  }
  return pixels::scalePicture(std::move(sent), static_cast<std::uint32_t>(width),
                              static_cast<std::uint32_t>(height));
}

}  // namespace mirlet::shell
