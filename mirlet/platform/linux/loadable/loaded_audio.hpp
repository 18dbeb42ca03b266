#pragma once
// The recording's capture and file, from the PulseAudio and FFmpeg modules' C entry points.

#include <memory>

#include "mirlet/platform/audio_recording.hpp"
#include "mirlet/platform/linux/loadable/modules.hpp"

namespace mirlet::loadable {

// Loads each module at its first use. Without the module, the capture or the file cannot be
// made, with the loader's reason.
std::unique_ptr<AudioRecording> makeLoadedAudioRecording();

// Over entry points already at hand (the modules' code linked in).
std::unique_ptr<AudioRecording> makeAudioRecording(const PulseCaptureModule* capture,
                                                   const FfmpegModule* file);

}  // namespace mirlet::loadable
