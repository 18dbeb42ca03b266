#pragma once
// The capture of what the machine plays: the monitor of the sound server's default output,
// followed wherever the default goes, as 32-bit float frames at the asked rate and channel count.

#include <chrono>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/result.hpp"

namespace mirlet::pulse {

// How long starting may wait for the sound server before it fails.
inline constexpr std::chrono::seconds kConnectTimeout{5};

struct Capture;

// A capture that delivers to `sink` on a thread named `threadName` once started.
Capture* newCapture(int sampleRate, int channels, const char* threadName, mirlet_audio_sink sink);
// Returns once the capture runs, or why it cannot, within kConnectTimeout.
Result<void> startCapture(Capture& capture);
// Ends the capture: no delivery runs after this returns.
void stopCapture(Capture& capture);
void deleteCapture(Capture* capture);

}  // namespace mirlet::pulse
