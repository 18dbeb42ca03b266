#pragma once

#include <string>

#include "mirlet/platform/image.hpp"

namespace mirlet {

class ImageOutput {
 public:
  virtual ~ImageOutput() = default;
  // Writes `image` at its own size as a PNG file at `to`; true only when the file is complete.
  virtual bool writePNG(const Image& image, const std::string& to) = 0;
};

}  // namespace mirlet
