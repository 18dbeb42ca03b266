// micbusy and audioout run as real processes against the tests' own sound server: recordings
// that do and do not count as a microphone, sinks of every kind set as the default output, and
// no server or one that never answers.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

using Clock = std::chrono::steady_clock;

RunResult pactl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

bool micBusyAnswer(bool expected) {
  const RunResult result = runMirlet({"micbusy"});
  return result.status == 0 && result.err.empty() &&
         result.out == (expected ? "{\"busy\":true}\n" : "{\"busy\":false}\n");
}

// A null sink made for one test and set as the default; the module is unloaded and the former
// default restored afterwards, since the server is shared with the other tests.
class DefaultNullSink {
 public:
  DefaultNullSink(const std::string& name, const std::string& properties)
      : previous_(trimmed(pactl({"get-default-sink"}).out)) {
    const RunResult loaded = pactl({"load-module", "module-null-sink", "sink_name=" + name,
                                    "sink_properties=\"" + properties + "\""});
    module_ = trimmed(loaded.out);
    EXPECT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(pactl({"set-default-sink", name}).status, 0);
  }
  ~DefaultNullSink() {
    if (!module_.empty()) pactl({"unload-module", module_});
    if (!previous_.empty()) pactl({"set-default-sink", previous_});
  }
  DefaultNullSink(const DefaultNullSink&) = delete;
  DefaultNullSink& operator=(const DefaultNullSink&) = delete;

 private:
  std::string previous_;
  std::string module_;
};

TEST(E2EDevices, RecordingTheMicrophoneMakesItBusyUntilTheRecordingEnds) {
  testPulseServer();
  ASSERT_TRUE(micBusyAnswer(false));
  Process recording = Process::start({"parec", "-d", "microphone", "--raw", "/dev/null"});
  EXPECT_TRUE(eventually([] { return micBusyAnswer(true); }));
  recording.signal(SIGTERM);
  recording.wait();
  EXPECT_TRUE(eventually([] { return micBusyAnswer(false); }));
}

TEST(E2EDevices, RecordingWhatASinkPlaysIsNoMicrophone) {
  testPulseServer();
  Process recording = Process::start({"parec", "-d", "speakers.monitor", "--raw", "/dev/null"});
  ASSERT_TRUE(eventually([] {
    const std::string sources = pactl({"list", "sources", "short"}).out;
    const auto line = sources.find("\tspeakers.monitor\t");
    return line != std::string::npos &&
           sources.substr(line, sources.find('\n', line) - line).ends_with("\tRUNNING");
  }));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(micBusyAnswer(false)) << "run " << i;
}

TEST(E2EDevices, AudioOutFollowsTheDefaultSinksProperties) {
  struct Case {
    std::string sink;  // empty: the test server's own default
    std::string properties;
    std::string line;
  };
  const Case cases[] = {
      {"", "",
       R"({"ok":true,"isSpeaker":false,"transport":"virt","name":"Speakers","headphones":false})"},
      {"mirlet_usb", "device.bus=usb device.description='USB Headset' device.form_factor=headset",
       R"({"ok":true,"isSpeaker":false,"transport":"usb","name":"USB Headset","headphones":true})"},
      {"mirlet_builtin", "device.bus=pci device.description='Built-in Speakers'",
       R"({"ok":true,"isSpeaker":true,"transport":"bltn","name":"Built-in Speakers","headphones":false})"},
      {"mirlet_jack",
       "device.bus=pci device.description='Built-in Output' device.form_factor=headphone",
       R"({"ok":true,"isSpeaker":false,"transport":"bltn","name":"Built-in Output","headphones":true})"},
      {"mirlet_bt", "device.bus=bluetooth device.description='My AirPods'",
       R"({"ok":true,"isSpeaker":false,"transport":"blue","name":"My AirPods","headphones":true})"},
      {"mirlet_bt_speaker", "device.bus=bluetooth device.description='Party Speaker'",
       R"({"ok":true,"isSpeaker":false,"transport":"blue","name":"Party Speaker","headphones":false})"},
      {"mirlet_hdmi_tv", "device.bus=pci device.description='Living Room TV'",
       R"({"ok":true,"isSpeaker":true,"transport":"hdmi","name":"Living Room TV","headphones":false})"},
      {"raop_client.kitchen", "device.description='Kitchen'",
       R"({"ok":true,"isSpeaker":true,"transport":"airp","name":"Kitchen","headphones":false})"},
      {"mirlet_desk", "device.description='Desk/Left Auriculares'",
       R"({"ok":true,"isSpeaker":false,"transport":"virt","name":"Desk\/Left Auriculares","headphones":true})"},
      {"mirlet_odd_bus", "device.bus=spi device.description='Odd'",
       R"({"ok":true,"isSpeaker":false,"transport":"\u0000\u0000\u0000\u0000","name":"Odd","headphones":false})"},
  };
  testPulseServer();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sink);
    {
      std::optional<DefaultNullSink> sink;
      if (!c.sink.empty()) sink.emplace(c.sink, c.properties);
      const RunResult result = runMirlet({"audioout"});
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.out, c.line + "\n");
    }
    EXPECT_EQ(trimmed(pactl({"get-default-sink"}).out), "speakers");
  }
}

TEST(E2EDevices, WithoutAnAnsweringServerBothCommandsGiveTheirPlainAnswers) {
  TempDir dir;
  const SilentSocket silent(dir / "silent.sock");
  ASSERT_TRUE(silent.ok());
  for (const std::string socket : {"missing.sock", "silent.sock"}) {
    for (const auto& [command, line] :
         {std::pair{"micbusy", "{\"busy\":false}\n"}, std::pair{"audioout", "{\"ok\":false}\n"}}) {
      SCOPED_TRACE(socket + " " + command);
      const auto start = Clock::now();
      const RunResult result = runMirlet({command}, {{"PULSE_SERVER", "unix:" + (dir / socket)}}, 10s);
      EXPECT_LT(Clock::now() - start, 4s);
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, line);
      EXPECT_EQ(result.err, "");
    }
  }
}

}  // namespace
}  // namespace mirlet::testing
