#pragma once
// The audio devices and the recording through the sound, capture and file modules' entry points,
// each loaded at its first use. Without a module the devices cannot be asked about, and the
// capture or the recorder cannot be made, with the loader's reason.

#include <memory>

#include "mirlet/platform/audio_devices.hpp"
#include "mirlet/platform/audio_recording.hpp"
#include "mirlet/platform/linux/module.h"

namespace mirlet::loadable {

std::unique_ptr<AudioDevices> makeAudioDevices();
std::unique_ptr<AudioRecording> makeAudioRecording();

// Over tables already at hand (the modules' code linked in); a null table is loaded.
std::unique_ptr<AudioRecording> makeAudioRecording(const mirlet_capture_module* capture,
                                                   const mirlet_file_module* file);

// A module's description of an output, as mirlet reads it.
OutputDevice outputDevice(const mirlet_output& output);

}  // namespace mirlet::loadable
