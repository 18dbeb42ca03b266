// micbusy and audioout run as real processes against the tests' own sound server: recordings
// that do and do not count as a microphone, sinks of several kinds set as the default output, no
// server or one that never answers, and no server started where client.conf would allow it, by
// them or by a recording.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool micBusyAnswer(bool busy) {
  const RunResult result = runMirlet({"micbusy"});
  return result.status == 0 && result.err.empty() &&
         result.out == (busy ? "{\"busy\":true}\n" : "{\"busy\":false}\n");
}

// A recording of a microphone, the default one or another, makes it busy until it ends; one of
// what a sink plays does not.
TEST(E2EDevices, OnlyARecordedMicrophoneIsBusy) {
  testPulseServer();
  TempDir dir;
  const std::string headset = pactl({"load-module", "module-pipe-source", "source_name=headsetmic",
                                     "file=" + dir / "headsetmic", "format=s16le", "rate=48000",
                                     "channels=2"});
  ASSERT_TRUE(micBusyAnswer(false));
  for (const std::string source : {"microphone", "headsetmic"}) {
    SCOPED_TRACE(source);
    Process recording = Process::start({"parec", "-d", source, "--raw", "/dev/null"});
    EXPECT_TRUE(eventually([] { return micBusyAnswer(true); }));
    recording.signal(SIGTERM);
    recording.wait();
    EXPECT_TRUE(eventually([] { return micBusyAnswer(false); }));
  }
  pactl({"unload-module", headset});
  Process monitor = Process::start({"parec", "-d", "speakers.monitor", "--raw", "/dev/null"});
  ASSERT_TRUE(eventually([] {
    const std::string sources = pactl({"list", "sources", "short"});
    const auto line = sources.find("\tspeakers.monitor\t");
    return line != std::string::npos &&
           sources.substr(line, sources.find('\n', line) - line).ends_with("\tRUNNING");
  }));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(micBusyAnswer(false)) << "run " << i;
}

// Each sink is a null sink made for the row and set as the default, then unloaded; the server is
// shared with the other tests, so its own default comes back.
TEST(E2EDevices, AudioOutReadsTheDefaultSinksProperties) {
  const std::string longName(300, 'n');
  const std::pair<std::string, std::string> rows[] = {
      {"", R"("isSpeaker":false,"transport":"virt","name":"Speakers","headphones":false)"},
      {"device.bus=usb device.description='USB Headset' device.form_factor=headset",
       R"("isSpeaker":false,"transport":"usb","name":"USB Headset","headphones":true)"},
      {"device.bus=pci device.description='Desk/Left'",
       R"("isSpeaker":true,"transport":"bltn","name":"Desk\/Left","headphones":false)"},
      {"device.bus=spi device.description=" + longName,
       R"("isSpeaker":false,"transport":"\u0000\u0000\u0000\u0000","name":")" + longName +
           R"(","headphones":false)"},
  };
  testPulseServer();
  for (const auto& [properties, line] : rows) {
    SCOPED_TRACE(properties);
    std::string module;
    if (!properties.empty()) {
      module = pactl({"load-module", "module-null-sink", "sink_name=mirlet_row",
                      "sink_properties=\"" + properties + "\""});
      pactl({"set-default-sink", "mirlet_row"});
    }
    const RunResult result = runMirlet({"audioout"});
    if (!module.empty()) pactl({"unload-module", module});
    pactl({"set-default-sink", "speakers"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "{\"ok\":true," + line + "}\n");
  }
}

TEST(E2EDevices, WithoutAnAnsweringServerBothCommandsGiveTheirPlainAnswersInTime) {
  TempDir dir;
  const SilentSocket silent(dir / "silent.sock");
  ASSERT_TRUE(silent.ok());
  for (const std::string socket : {"missing.sock", "silent.sock"}) {
    for (const auto& [command, line] :
         {std::pair{"micbusy", "{\"busy\":false}\n"}, std::pair{"audioout", "{\"ok\":false}\n"}}) {
      SCOPED_TRACE(socket + " " + command);
      const auto start = Clock::now();
      const RunResult result =
          runMirlet({command}, {{"PULSE_SERVER", "unix:" + (dir / socket)}}, 10s);
      EXPECT_LT(Clock::now() - start, 4s);
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, line);
      EXPECT_EQ(result.err, "");
    }
  }
}

// The tests' own client.conf forbids autospawn; here one allows it, and no server runs. libpulse
// never autospawns for root, so as root the programs run as nobody. pactl, which allows
// autospawn, shows that the set-up would start the "server".
TEST(E2EDevices, NoCommandEverStartsASoundServer) {
  TempDir dir;
  const std::string runtime = dir / "runtime", spawned = runtime + "/spawned";
  fs::create_directory(runtime);
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
  writeFile(dir / "spawn", "#!/bin/sh\ntouch " + spawned + "\nexit 1\n");
  writeFile(dir / "client.conf", "autospawn = yes\ndaemon-binary = " + (dir / "spawn") + "\n");
  const std::vector<std::string> files = {"mirlet", "mirlet-pulse.so", "mirlet-pulse-capture.so",
                                          "mirlet-ffmpeg.so", "mirlet-x11.so"};
  for (const std::string& file : files)
    fs::copy_file(fs::path(mirletBinary()).parent_path() / file, dir / file);
  for (const std::string& file : files) fs::permissions(dir / file, fs::perms::all);
  for (const std::string file : {"spawn", "client.conf"}) fs::permissions(dir / file, fs::perms::all);
  std::vector<std::string> as;
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(runtime.c_str(), 65534, 65534), 0);
    as = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  const EnvChanges env = {{"PULSE_SERVER", std::nullopt},
                          {"PULSE_CLIENTCONFIG", dir / "client.conf"},
                          {"XDG_RUNTIME_DIR", runtime},
                          {"HOME", runtime}};
  const auto asked = [&](std::vector<std::string> command) {
    command.insert(command.begin(), as.begin(), as.end());
    return run(command, env);
  };
  testDisplay();
  for (const auto& [args, line, reason] :
       {std::tuple{std::vector<std::string>{"micbusy"}, "{\"busy\":false}\n", ""},
        std::tuple{std::vector<std::string>{"audioout"}, "{\"ok\":false}\n", ""},
        std::tuple{std::vector<std::string>{"audio", runtime + "/out.m4a"}, "",
                   "start_capture_failed: Connection refused\n"}}) {
    SCOPED_TRACE(args[0]);
    std::vector<std::string> command{dir / "mirlet"};
    command.insert(command.end(), args.begin(), args.end());
    const RunResult result = asked(command);
    EXPECT_EQ(result.out, line);
    EXPECT_EQ(result.err, reason);
    EXPECT_FALSE(fileExists(spawned));
  }
  asked({"pactl", "info"});
  EXPECT_TRUE(fileExists(spawned));
}

}  // namespace
}  // namespace mirlet::testing
