#pragma once
// Stand-ins that load a module on first use and hand each call on to it.

#include <memory>

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/audio_hardware.hpp"
#include "mirlet/platform/capture_service.hpp"

namespace mirlet::loadable {

// Making a writer fails with the loader's reason when the FFmpeg module cannot be loaded.
std::unique_ptr<AssetWriting> makeLoadedAssetWriting();

// Every query fails when the PulseAudio module cannot be loaded, as with no sound server.
std::unique_ptr<AudioHardware> makeLoadedAudioHardware();

// A stream whose start fails with the loader's reason when the module cannot be loaded.
std::shared_ptr<CaptureStream> makeLoadedSystemAudioStream(
    const StreamConfiguration& configuration, std::shared_ptr<StreamDelegate> delegate);

}  // namespace mirlet::loadable
