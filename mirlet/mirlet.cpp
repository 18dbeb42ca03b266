#include "mirlet/mirlet.hpp"

#include <csignal>
#include <string_view>

#include "mirlet/audio/audio_out.hpp"
#include "mirlet/audio/device_queries.hpp"
#include "mirlet/audio/record_audio.hpp"
#include "mirlet/cli/permission.hpp"
#include "mirlet/cli/window_id.hpp"
#include "mirlet/screen/list_windows.hpp"
#include "mirlet/screen/shot.hpp"

namespace mirlet {
namespace {

constexpr std::string_view kUsage = "usage: mirlet windows|shot|audio|audioout ...";
constexpr std::string_view kShotUsage = "usage: mirlet shot <windowID> <out.png>";
constexpr std::string_view kAudioUsage = "usage: mirlet audio <out.m4a>";

void answer(Output& out, std::string_view prefix, bool flag) {
  std::string line(prefix);
  line += flag ? "true" : "false";
  line += '}';
  out.emit(line);
  out.exit(0);
}

}  // namespace

void dispatchCommand(const std::vector<std::string>& args, Platform& platform, Output& out) {
  const std::string& word = args.at(1);
  if (word == "check") answer(out, "{\"screen\":", platform.screenAccess.preflight());
  if (word == "request") answer(out, "{\"screen\":", ensureScreenAccess(platform.screenAccess));
  if (word == "micbusy") answer(out, "{\"busy\":", micBusy(platform.audioDevices));
  if (word == "windows") {
    listWindows(platform, out);
    out.exit(0);
  }
  if (word == "shot") {
    if (args.size() < 4 || args[2].empty()) out.fail(kShotUsage);
    const auto windowID = parseWindowID(args[2]);
    if (!windowID) out.fail(kShotUsage);
    shot(platform, out, *windowID, args[3]);
    out.exit(0);
  }
  if (word == "audio") {
    if (args.size() < 3) out.fail(kAudioUsage);
    auto recording =
        startRecording(platform, args[2], [&out](const std::string& reason) { out.fail(reason); });
    if (!recording) out.fail(recording.error());
    out.emit(recordingLine(args[2]));
    // A stop asked for during the start has waited, pending, and is taken here at once.
    platform.stopSignals.wait();
    (*recording)->stop();
    out.note("stopped\n");
    out.exit(0);
  }
  if (word == "audioout") {
    out.emit(audioOut(platform.audioDevices));
    out.exit(0);
  }
  out.fail("unknown command " + word);
}

int runMirlet(const std::vector<std::string>& args, Platform& platform, Output& out) {
  if (args.size() < 2) out.fail(kUsage);
  if (args[1] == "shot") platform.application.setAccessoryActivationPolicy();
  // A stop asked for while a recording starts up must neither kill it nor be lost: the signals
  // wait, pending, until the recording's watchers take them.
  if (args[1] == "audio") platform.stopSignals.hold();
  platform.executor.async([&args, &platform, &out] { dispatchCommand(args, platform, out); });
  platform.runLoop.run();
  return 0;
}

}  // namespace mirlet
