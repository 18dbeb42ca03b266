#include "mirlet/audio/record_audio.hpp"

namespace mirlet {
void recordAudio(Platform&, Output& out, const std::string&) { out.fail("no_display"); }
}  // namespace mirlet
