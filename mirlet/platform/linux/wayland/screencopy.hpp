#pragma once
// Pictures of the screen through wlroots' screencopy: what the outputs show inside a rectangle of
// the global space, at the outputs' own pixel density, then brought to the asked size.

#include "mirlet/platform/linux/pixels/picture.hpp"
#include "mirlet/platform/linux/wayland/session.hpp"

namespace mirlet::wayland {

// What the screen shows inside `frame` (points, wholly on one output), at exactly `width` x
// `height` pixels. Asked at the output's density (twice its points on a scale-2 output) it is the
// output's own pixels, not resampled.
Result<pixels::Picture> captureArea(Session& session, const Rect& frame, std::int64_t width,
                                    std::int64_t height);

}  // namespace mirlet::wayland
