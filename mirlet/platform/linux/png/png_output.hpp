#pragma once

#include <memory>

#include "mirlet/platform/image_output.hpp"

namespace mirlet::png {

std::unique_ptr<ImageOutput> makeImageOutput();

}  // namespace mirlet::png
