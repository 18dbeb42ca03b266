#pragma once
// A point on a media timeline as a rational number of seconds (value / timescale).

#include <cstdint>

namespace mirlet {

struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;  // 0 marks an invalid time

  bool isValid() const { return timescale > 0; }
  double seconds() const { return isValid() ? static_cast<double>(value) / timescale : 0.0; }
  bool operator==(const MediaTime&) const = default;
};

}  // namespace mirlet
