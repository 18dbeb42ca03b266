// The output device report: how a sink's facts read as transport, loudspeaker and headphones,
// rule by rule and in the order the rules are tried.

#include <gtest/gtest.h>

#include "mirlet/audio/audio_out.hpp"
#include "mirlet/platform/linux/loadable/loaded_audio.hpp"
#include "mirlet/platform/linux/pulse/device_mapping.hpp"

namespace mirlet {
namespace {

struct OneOutput final : AudioDevices {
  std::optional<OutputDevice> output;
  Result<bool> inputInUse() override { return failure("no server"); }
  Result<std::optional<OutputDevice>> defaultOutput() override { return output; }
};

// The sink's description as it crosses from the sound module.
OutputDevice described(const pulse::SinkFacts& sink) {
  const pulse::OutputFacts facts = pulse::describeSink(sink);
  return loadable::outputDevice(
      {facts.transport, facts.name.data(), facts.name.size(), facts.headphones ? 1 : 0});
}

pulse::PortFacts port(std::string name, pa_device_port_type_t type = PA_DEVICE_PORT_TYPE_UNKNOWN) {
  return {std::move(name), type};
}

TEST(AudioOut, SinkFactsGiveTransportSpeakerAndHeadphones) {
  struct Row {
    pulse::SinkFacts sink;
    std::string transport;
    bool isSpeaker;
    bool headphones;
    std::string shown = "";  // the name in the line
  };
  const std::string none = R"(\u0000\u0000\u0000\u0000)";
  const auto phones = PA_DEVICE_PORT_TYPE_HEADPHONES;
  const Row rows[] = {
      // Transport: the first rule that matches.
      {{.bus = "USB"}, "usb", false, false},
      {{.bus = "bluetooth"}, "blue", false, false},
      {{.bus = "firewire"}, "1394", false, false},
      {{.bus = "thunderbolt"}, "thun", false, false},
      {{.name = "hdmi-dongle", .bus = "usb"}, "usb", false, false, "hdmi-dongle"},
      {{.activePort = port("hdmi-output-0"), .bus = "pci"}, "hdmi", true, false},
      {{.bus = "pci", .profileName = "HDMI-stereo"}, "hdmi", true, false},
      {{.activePort = port("displayport-1"), .bus = "pci"}, "dprt", true, false},
      {{.name = "hdmi-displayport"}, "dprt", true, false, "hdmi-displayport"},
      {{.driver = "module-raop-sink.c"}, "airp", true, false},
      {{.name = "raop_sink.k", .description = "Kitchen"}, "airp", true, false, "Kitchen"},
      {{.raop = true}, "airp", true, false},
      {{.bus = "pci"}, "bltn", true, false},
      {{.deviceClass = "filter"}, "virt", false, false},
      {{.deviceClass = "abstract"}, "virt", false, false},
      {{.factoryName = "support.null-audio-sink"}, "virt", false, false},  // PipeWire's null
      {{.nodeVirtual = true}, "virt", false, false},  // PipeWire's combine sink
      {{.bus = "spi", .deviceClass = "abstract"}, none, false, false},
      {{}, none, false, false},
      // Headphones from the active port, else from the form factor.
      {{.activePort = port("out", phones), .bus = "pci"}, "bltn", false, true},
      {{.activePort = port("analog-output-headphones"), .bus = "pci"}, "bltn", false, true},
      // A headset or hands-free port is worn like headphones: by its type, or by its name.
      {{.activePort = port("out", PA_DEVICE_PORT_TYPE_HEADSET), .bus = "pci"}, "bltn", false, true},
      {{.activePort = port("out", PA_DEVICE_PORT_TYPE_HANDSFREE), .bus = "bluetooth"}, "blue",
       false, true},
      {{.activePort = port("analog-output-headset"), .bus = "pci"}, "bltn", false, true},
      {{.activePort = port("bt-hands-free"), .bus = "bluetooth"}, "blue", false, true},
      {{.activePort = port("a2dp-handsfree"), .bus = "bluetooth"}, "blue", false, true},
      {{.activePort = port("line"), .bus = "pci", .formFactor = "headphone"}, "bltn", true, false},
      {{.activePort = port("hdmi-out", phones)}, "hdmi", true, true},
      // The name words, in any case and inside other words; "headset" is none of them.
      {{.description = "Speakers", .bus = "pci"}, "bltn", true, false, "Speakers"},
      {{.description = "Auriculares", .bus = "usb"}, "usb", false, true, "Auriculares"},
      {{.description = "My AirPods", .bus = "bluetooth"}, "blue", false, true, "My AirPods"},
      {{.description = "Party Speaker", .bus = "bluetooth"}, "blue", false, false, "Party Speaker"},
      {{.description = "Headset", .bus = "pci"}, "bltn", true, false, "Headset"},
      {{.description = "HEADPHONE BAR", .raop = true}, "airp", true, true, "HEADPHONE BAR"},
  };
  const auto flag = [](bool value) { return value ? std::string("true") : std::string("false"); };
  for (const auto& row : rows) {
    OneOutput devices;
    devices.output = described(row.sink);
    EXPECT_EQ(audioOut(devices), R"({"ok":true,"isSpeaker":)" + flag(row.isSpeaker) +
                                     R"(,"transport":")" + row.transport + R"(","name":")" +
                                     row.shown + R"(","headphones":)" + flag(row.headphones) + "}")
        << "row " << &row - rows;
  }
}

}  // namespace
}  // namespace mirlet
