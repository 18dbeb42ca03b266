// `mirlet audio` as a real process on the private X and sound servers, with a tone playing.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "fakes/fake_media.hpp"
#include "e2e/desktop.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

std::string recordingLine(const std::string& jsonPath) {
  return "{\"ok\":true,\"recording\":\"" + jsonPath + "\"}";
}

// Whether `pid` holds `signal` back, as the recording does from its first moments on.
bool holds(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

struct Recording {
  Process process;
  std::string line;
  std::chrono::steady_clock::time_point started;
};

Recording startRecording(const std::string& path, const EnvChanges& env = {},
                         const std::string& workdir = "") {
  testDisplay();
  testPulseServer();
  Recording recording{startMirlet({"audio", path}, env, workdir), "", {}};
  recording.line = recording.process.waitForLine(std::chrono::seconds(10)).value_or("");
  recording.started = std::chrono::steady_clock::now();
  return recording;
}

bool onPipeWire() {
  testPulseServer();
  return readFile(testServicesDir() + "/sound-server").starts_with("pipewire");
}

// A half-scale sine, as playTone plays it, seen through toneLevelDb: pitch and level at once.
const double kToneDb = 20 * std::log10(0.5 / std::sqrt(2));

// Stops the recording as its caller does; it must end well, its file following the clock from the
// line to the stop.
Probe stopRecording(Recording& recording, const std::string& path) {
  recording.process.signal(SIGINT);
  const auto elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - recording.started).count();
  const RunResult result = recording.process.wait();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, recording.line + "\n");
  EXPECT_EQ(result.err, "stopped\n");
  const Probe probe = probeFile(path);
  EXPECT_NEAR(probe.duration, elapsed, 0.25) << "the file does not follow the clock";
  return probe;
}

// Paths relative to the working folder are shown as given; an earlier file is replaced. A stop
// sent as soon as the signals are held, before the line, is served after it.
TEST(E2EAudio, StopSignalsCompleteTheFileOnceAndSayStopped) {
  struct Case {
    std::vector<int> signals;
    std::string path, shown;
    bool early = false;
  };
  TempDir dir;
  Process tone = playTone(dir, 440, 60);
  // Open to the desktop's user, who records on GNOME and KDE.
  ASSERT_EQ(run({"mkdir", "-m", "777", dir / "sub"}).status, 0);
  // An idle null sink starts playing only at its next block, up to two seconds on.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  for (const Case& c : {Case{{SIGINT}, "sub/a\"b\\c.m4a", "sub/a\\\"b\\\\c.m4a"},
                        Case{{SIGTERM}, "term.m4a", "term.m4a"},
                        Case{{SIGINT, SIGTERM, SIGINT}, dir / "three.m4a", dir / "three.m4a"},
                        Case{{SIGINT}, "early.m4a", "early.m4a", true}}) {
    SCOPED_TRACE(c.path);
    const std::string path = c.path.starts_with("/") ? c.path : dir / c.path;
    std::string earlier;
    while (earlier.size() < 200000) earlier += "an earlier recording\n";
    writeFile(path, earlier);
    Process process = startMirlet({"audio", c.path}, {}, dir.path());
    if (c.early) {
      ASSERT_TRUE(eventually([&] { return holds(process.pid(), SIGINT); }));
    } else {
      ASSERT_EQ(process.waitForLine(10s), recordingLine(c.shown));
    }
    const auto started = std::chrono::steady_clock::now();
    if (!c.early) std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    for (int signal : c.signals) process.signal(signal);
    const auto elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const RunResult result = process.wait();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, recordingLine(c.shown) + "\n") << "standard output must stay silent";
    EXPECT_EQ(result.err, "stopped\n");

    EXPECT_EQ(readFile(path).find("an earlier"), std::string::npos) << "appended, not replaced";
    const Probe probe = probeFile(path);
    ASSERT_TRUE(probe.readable);
    EXPECT_EQ(probe.format, "aac LC 48000 2 M4A ");
    if (c.early) continue;
    // From the line, which comes just after the recording's start, to the stop.
    EXPECT_NEAR(probe.duration, elapsed, 0.25);
    const auto tail = slice(decodeLeft(path), probe.duration - 1.0, probe.duration - 0.1);
    EXPECT_NEAR(toneLevelDb(tail, 440), kToneDb, 1);
  }
}

TEST(E2EAudio, RefusalsReportTheirReasonAndLoseNothingTheyShouldKeep) {
  struct Case {
    std::string name;
    std::string path;  // relative to the test's folder
    EnvChanges env;
    std::string reason;
    bool earlierFileKept;
  };
  TempDir dir;
  SilentSocket silent(dir / "silent");
  ASSERT_TRUE(silent.ok());
  const std::vector<Case> cases = {
      {"no display", "old.m4a", noDisplayEnv(), "no_display\n", true},
      {"no sound server", "old.m4a", {{"PULSE_SERVER", "unix:" + dir / "no-such-socket"}},
       "start_capture_failed: Connection refused\n", false},
      {"a sound server that never answers", "old.m4a", {{"PULSE_SERVER", "unix:" + dir / "silent"}},
       "start_capture_failed: timed out waiting for the sound server\n", false},
      {"a folder", "folder", {}, "start_capture_failed: folder is a folder, not a file\n", true},
      {"a link to a folder", "link", {}, "start_capture_failed: link is a folder, not a file\n",
       true},
      {"an empty path", "", {}, "start_capture_failed: the output path is empty\n", true},
      {"a missing folder", "missing/out.m4a", {},
       "start_capture_failed: cannot create missing/out.m4a: No such file or directory\n", true},
  };
  ASSERT_EQ(run({"mkdir", "-p", dir / "folder"}).status, 0);
  ASSERT_EQ(run({"ln", "-s", "folder", dir / "link"}).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir / "old.m4a", "earlier recording");
    writeFile(dir / "folder/inside.m4a", "kept");
    testDisplay();
    testPulseServer();
    const RunResult result = runMirlet({"audio", c.path}, c.env, std::chrono::seconds(20), dir.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.reason);
    EXPECT_EQ(fileExists(dir / "old.m4a"), c.earlierFileKept || c.path != "old.m4a")
        << "a failed start removes the earlier file and leaves no new one";
    EXPECT_EQ(readFile(dir / "folder/inside.m4a"), "kept");
    EXPECT_EQ(run({"test", "-L", dir / "link"}).status, 0) << "the link was removed";
  }
}

// A second output ("headset", 1000 Hz) beside the speakers (440 Hz), and a microphone that
// carries 3000 Hz as the default source. Servers differ in which players follow a new default
// output, so a tone is looked for where it must be, not as the only one.
struct ChangingDesktop {
  TempDir dir;
  std::string headset;
  std::string microphone;
  std::vector<Process> players;
  pid_t recorder = -1;

  ChangingDesktop() {
    testPulseServer();
    headset = pactl({"load-module", "module-null-sink", "sink_name=headset"});
    EXPECT_FALSE(headset.empty());
    microphone = pactl({"load-module", "module-pipe-source", "source_name=mictone",
                        "file=" + dir / "mic", "format=s16le", "rate=48000", "channels=2"});
    pactl({"set-default-source", "mictone"});
    players.push_back(Process::start({"ffmpeg", "-v", "error", "-re", "-f", "lavfi", "-i",
                                      "sine=frequency=3000:sample_rate=48000:duration=60",
                                      "-ac", "2", "-f", "s16le", "-y", dir / "mic"}));
    play();
  }
  ~ChangingDesktop() {
    players.clear();
    for (const std::string& module : {headset, microphone})
      run({"pactl", "unload-module", module});
    run({"pactl", "set-default-sink", "speakers"});
    run({"pactl", "set-default-source", "microphone"});
  }
  void play(double speakersHertz = 440) {
    players.push_back(playTone(dir, speakersHertz, 60, 0.5, "speakers"));
    players.push_back(playTone(dir, 1000, 60, 0.5, "headset"));
  }
};

TEST(E2EAudio, WhatPlaysIsRecordedWhateverTheDesktopDoes) {
  struct Case {
    std::string name;
    std::string firstOutput;
    std::function<void(ChangingDesktop&)> change;
    double before, notBefore, after;  // tones heard and not heard before the change, and at the end
  };
  std::vector<Case> cases = {
      {"the default output switches", "speakers",
       [](ChangingDesktop&) { pactl({"set-default-sink", "headset"}); }, 440, 1000, 1000},
      {"the recorded output is unplugged", "headset",
       [](ChangingDesktop& desktop) { pactl({"unload-module", desktop.headset}); }, 1000, 0, 440},
      {"the sound server restarts", "speakers",
       [](ChangingDesktop& desktop) {
         ASSERT_EQ(run({MIRLET_SOURCE_DIR "/scripts/test-services.sh", "restart-sound",
                        testServicesDir(), "1"}).status, 0);
         desktop.play(660);
       },
       440, 1000, 660},
      // Stopped for a moment, the server that mirlet talks to may drop what played meanwhile.
      {"the sound server stalls", "speakers",
       [&](ChangingDesktop&) {
         std::string pid = readFile(testServicesDir() + "/" +
                                    (onPipeWire() ? "pipewire-pulse" : "pulseaudio") + ".pid");
         pid = pid.substr(0, pid.find('\n'));
         for (int i = 0; i < 2; ++i) {
           ASSERT_EQ(run({"kill", "-STOP", pid}).status, 0);
           std::this_thread::sleep_for(std::chrono::milliseconds(800));
           run({"kill", "-CONT", pid});
           std::this_thread::sleep_for(std::chrono::milliseconds(400));
         }
       },
       440, 1000, 440},
      // Stopped itself, mirlet finds what played meanwhile kept for it by the server.
      {"the recording is held up", "speakers",
       [](ChangingDesktop& desktop) {
         ASSERT_EQ(::kill(desktop.recorder, SIGSTOP), 0);
         std::this_thread::sleep_for(std::chrono::milliseconds(1500));
         ::kill(desktop.recorder, SIGCONT);
       },
       440, 1000, 440},
  };
  // On PipeWire a patchbay, or the session manager, can unlink a stream without telling it.
  if (onPipeWire()) {
    cases.push_back({"the recording is unlinked", "speakers",
                     [](ChangingDesktop&) {
                       for (const std::string channel : {"FL", "FR"}) {
                         ASSERT_EQ(run({"pw-link", "-d", "speakers:monitor_" + channel,
                                        "mirlet:input_" + channel},
                                       {{"PIPEWIRE_RUNTIME_DIR", testServicesDir() + "/runtime"}})
                                       .status,
                                   0);
                       }
                     },
                     440, 1000, 440});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChangingDesktop desktop;
    pactl({"set-default-sink", c.firstOutput});
    // An idle null sink starts playing only at its next block, up to two seconds on.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    const std::string path = desktop.dir / "changes.m4a";
    Recording recording = startRecording(path);
    ASSERT_EQ(recording.line, recordingLine(path));
    desktop.recorder = recording.process.pid();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    c.change(desktop);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const Probe probe = stopRecording(recording, path);
    const auto left = decodeLeft(path);
    const auto before = slice(left, 1.0, 2.5);
    EXPECT_NEAR(toneLevelDb(before, c.before), kToneDb, 1);
    if (c.notBefore > 0) {
      EXPECT_LT(toneLevelDb(before, c.notBefore), -50);
    }
    EXPECT_GT(toneLevelDb(slice(left, probe.duration - 1.2, probe.duration - 0.2), c.after), -20);
    EXPECT_LT(toneLevelDb(left, 3000), -60) << "the microphone was recorded";
  }
}

// With no output at all the recording starts at once, silent until an output appears, and then
// records it. PulseAudio's speakers can be taken away and given back; PipeWire's belong to its
// configuration.
TEST(E2EAudio, ARecordingWithoutAnyOutputWaitsForOne) {
  if (onPipeWire())
    GTEST_SKIP() << "PipeWire's speakers belong to its configuration";
  const std::string modules = pactl({"list", "short", "modules"});
  const std::size_t at = modules.find("sink_name=speakers ");
  ASSERT_NE(at, std::string::npos) << modules;
  const std::size_t line = modules.rfind('\n', at) + 1;  // npos + 1 is the first line
  // The speakers as the test services make them, given back however the test ends.
  static const std::vector<std::string> kLoadSpeakers = {
      "load-module", "module-null-sink", "sink_name=speakers",
      "sink_properties=device.description=Speakers"};
  struct GiveBack {
    ~GiveBack() {
      if (pactl({"list", "short", "sinks"}).empty()) pactl(kLoadSpeakers);
      pactl({"set-default-sink", "speakers"});
    }
  } giveBack;
  pactl({"unload-module", modules.substr(line, modules.find('\t', line) - line)});
  ASSERT_EQ(pactl({"list", "short", "sinks"}), "");
  TempDir dir;
  const std::string path = dir / "waits.m4a";
  Recording recording = startRecording(path);
  ASSERT_EQ(recording.line, recordingLine(path));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_FALSE(pactl(kLoadSpeakers).empty());
  Process tone = playTone(dir, 440, 30, 0.5, "speakers");
  // An idle null sink starts playing only at its next block, up to two seconds on.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  const Probe probe = stopRecording(recording, path);
  const auto left = decodeLeft(path);
  EXPECT_LT(toneLevelDb(slice(left, 0.5, 2.5), 440), -50);
  EXPECT_GT(toneLevelDb(slice(left, probe.duration - 1.2, probe.duration - 0.2), 440), -20);
}

// An output whose clock runs 2000 ppm slow: a pipe sink renders only as fast as its FIFO is
// drained (use_system_clock_for_timing=no, also PulseAudio 16's default), here by a reader taking
// 47904 frames a second by the monotonic clock; parec timed the sink's monitor at -1990 to -2030
// ppm. What plays is a 440 Hz tone with a 3000 Hz beep every 2 s of the output's clock.
// Unstretched, the beeps fall behind the wall clock by 4.0 ms every 2 s, 76 ms by the end;
// stretched once the rate is known (16 s), they keep the 30 ms that they fell behind until then.
// Nothing is lost, so no silence goes in: the tone never breaks.
TEST(E2EAudio, AnOutputWhoseClockDriftsKeepsTheWallClock) {
  if (onPipeWire())
    GTEST_SKIP() << "pipewire-pulse's pipe sink (PipeWire 0.3.65) renders on its graph's clock, "
                    "not its reader's: -76 ppm with the FIFO drained 2000 ppm slow, -84 on time";
  constexpr double kPpm = -2000, kPeriod = 2;
  TempDir dir;
  const std::string track = dir / "beeps.wav", path = dir / "drift.m4a";
  ASSERT_EQ(run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                 "aevalsrc=0.25*sin(2*PI*440*t)+0.25*sin(2*PI*3000*t)*lt(mod(t\\,2)\\,0.05):"
                 "s=48000:d=60",
                 "-ac", "2", "-y", track}).status, 0);
  // Absolute deadlines, so that a late wake-up is made up at the next one.
  const char* reader = R"(
import os, sys, time
fd, rate = os.open(sys.argv[1], os.O_RDONLY), 4 * 48000 * (1 + float(sys.argv[2]) / 1e6)
start, taken, tick = time.monotonic(), 0, 0
while True:
    tick += 1
    due = int(tick * 0.005 * rate) // 4 * 4
    while taken < due:
        got = os.read(fd, due - taken)
        if not got: sys.exit()
        taken += len(got)
    time.sleep(max(0, start + tick * 0.005 - time.monotonic()))
)";
  struct Output {
    std::string module;
    ~Output() {
      run({"pactl", "set-default-sink", "speakers"});
      run({"pactl", "unload-module", module});
    }
  } output{pactl({"load-module", "module-pipe-sink", "sink_name=drifting", "file=" + dir / "fifo",
                  "format=s16le", "rate=48000", "channels=2", "use_system_clock_for_timing=no"})};
  ASSERT_FALSE(output.module.empty());
  Process drain = Process::start({"python3", "-c", reader, dir / "fifo", std::to_string(kPpm)});
  pactl({"set-default-sink", "drifting"});
  // A long buffer: a player held back on a busy machine would move the beeps.
  Process player = Process::start({"paplay", "--latency-msec=1000", track});
  std::this_thread::sleep_for(1s);
  Recording recording = startRecording(path);
  ASSERT_EQ(recording.line, recordingLine(path));
  std::this_thread::sleep_for(40s);
  const Probe probe = stopRecording(recording, path);
  const auto left = decodeLeft(path);
  double weakest = 0;
  for (double t = 1; t < probe.duration - 0.5; t += 0.01)
    weakest = std::min(weakest, toneLevelDb(slice(left, t, t + 0.01), 440));
  EXPECT_GT(weakest, -30) << "silence went in where nothing was lost";
  // A beep starts where a 5 ms window first holds it at half its level or more.
  std::vector<double> beeps;
  for (double t = 0.3; t < probe.duration - 0.5; t += 0.001) {
    if (toneLevelDb(slice(left, t, t + 0.005), 3000) > -21) {
      beeps.push_back(t + 0.0025);
      t += 1;
    }
  }
  ASSERT_GE(beeps.size(), 19u);
  // From the first beep on, which the drift has not yet moved by 5 ms, the wall clock's time.
  const double spacing = kPeriod / (1 + kPpm / 1e6);
  for (std::size_t i = 1; i < beeps.size(); ++i) {
    const double off = beeps[i] - beeps[0] - static_cast<double>(i) * spacing;
    if (beeps[i] > 18) {
      EXPECT_NEAR(off, 0, 0.05) << "the beep at " << beeps[i] << " s";
    }
  }
}

// A recording that ends abruptly keeps what it wrote: killed, it loses at most its last second
// (fragments of half a second, each flushed); on a full disk it ends at once, after its line, says
// why, and its file ends at its last whole fragment, however the disk's end cut the one after. A
// disk of one page takes the header alone.
TEST(E2EAudio, AnAbruptEndKeepsWhatWasWritten) {
  struct Case {
    std::string disk;  // a tmpfs of this size, or none: killed after four seconds
    double atLeastSeconds;
  };
  TempDir toneDir;
  Process tone = playTone(toneDir, 440, 60);
  for (const Case& c : {Case{"", 3.0}, Case{"4k", 0}, Case{"12k", 0.4}, Case{"40k", 1.5},
                        Case{"96k", 3.0}}) {
    SCOPED_TRACE(c.disk.empty() ? "killed" : "a full disk of " + c.disk);
    const bool full = !c.disk.empty();
    if (full && ::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    TempDir dir;
    if (full) {
      ASSERT_EQ(run({"mount", "-t", "tmpfs", "-o", "size=" + c.disk, "tmpfs", dir.path()}).status,
                0);
    }
    Recording recording = startRecording(dir / "cut.m4a");
    ASSERT_EQ(recording.line, recordingLine(dir / "cut.m4a"));
    if (!full) {
      std::this_thread::sleep_for(std::chrono::seconds(4));
      recording.process.signal(SIGKILL);
    }
    const RunResult result = recording.process.wait(std::chrono::seconds(20));
    EXPECT_EQ(result.signal, full ? 0 : SIGKILL);
    EXPECT_EQ(result.status, full ? 1 : -1);
    EXPECT_EQ(result.out, recording.line + "\n");
    EXPECT_EQ(result.err, full ? "write_failed: No space left on device\n" : "");
    EXPECT_TRUE(wholeBoxes(dir / "cut.m4a"));
    const Probe probe = probeFile(dir / "cut.m4a");
    EXPECT_TRUE(probe.readable);
    EXPECT_TRUE(probe.format.starts_with("aac ")) << probe.format;
    EXPECT_GE(static_cast<double>(decodeLeft(dir / "cut.m4a").size()), c.atLeastSeconds * 48000);
    if (full) run({"umount", dir.path()});
  }
}

}  // namespace
}  // namespace mirlet::testing
