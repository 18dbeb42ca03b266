#pragma once
// Rectangles in points, in the one global space of windows and displays (y grows downward).
// The accessors read a rectangle the way Core Graphics does: a negative width or height counts
// from the other edge.

#include <algorithm>

namespace mirlet {

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const Rect&) const = default;
};

inline double minX(const Rect& r) { return std::min(r.x, r.x + r.width); }
inline double maxX(const Rect& r) { return std::max(r.x, r.x + r.width); }
inline double minY(const Rect& r) { return std::min(r.y, r.y + r.height); }
inline double maxY(const Rect& r) { return std::max(r.y, r.y + r.height); }
inline double midX(const Rect& r) { return r.x + r.width / 2; }
inline double midY(const Rect& r) { return r.y + r.height / 2; }
inline double width(const Rect& r) { return r.width < 0 ? -r.width : r.width; }
inline double height(const Rect& r) { return r.height < 0 ? -r.height : r.height; }

}  // namespace mirlet
