#include "mirlet/mirlet.hpp"

#include <string_view>

#include "mirlet/audio/audio_out.hpp"
#include "mirlet/audio/device_queries.hpp"
#include "mirlet/audio/record_audio.hpp"
#include "mirlet/cli/json.hpp"
#include "mirlet/cli/permission.hpp"
#include "mirlet/cli/window_id.hpp"
#include "mirlet/screen/list_windows.hpp"
#include "mirlet/screen/shot.hpp"

namespace mirlet {
namespace {

constexpr std::string_view kUsage = "usage: mirlet windows|shot|audio|audioout ...";
constexpr std::string_view kShotUsage = "usage: mirlet shot <windowID> <out.png>";
constexpr std::string_view kAudioUsage = "usage: mirlet audio <out.m4a>";

std::string answer(std::string_view name, bool flag) {
  return JsonWriter(Solidus::asIs).beginObject().key(name).value(flag).endObject().text();
}

}  // namespace

bool isRecording(const std::vector<std::string>& args) {
  return args.size() >= 3 && args[1] == "audio";
}

CommandResult runCommand(const std::vector<std::string>& args, Platform& platform,
                         const Reporter& report) {
  if (args.size() < 2) return failure(std::string(kUsage));
  const std::string& word = args[1];
  if (word == "check") return answer("screen", platform.screenAccess.preflight());
  if (word == "request") return answer("screen", ensureScreenAccess(platform.screenAccess));
  if (word == "micbusy") return answer("busy", micBusy(platform.audioDevices));
  if (word == "windows") return listWindows(platform.screen);
  if (word == "shot") {
    const auto windowID = args.size() < 4 ? std::nullopt : parseWindowID(args[2]);
    if (!windowID) return failure(std::string(kShotUsage));
    return shot(platform.screen, report.note, *windowID, args[3]);
  }
  if (word == "audio") {
    if (args.size() < 3) return failure(std::string(kAudioUsage));
    return recordAudio(platform, args[2], report);
  }
  if (word == "audioout") return audioOut(platform.audioDevices);
  return failure("unknown command " + word);
}

}  // namespace mirlet
