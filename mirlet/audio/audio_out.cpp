#include "mirlet/audio/audio_out.hpp"

#include <memory>
#include <string>
#include <string_view>

#include "mirlet/audio/device_queries.hpp"
#include "mirlet/cli/json.hpp"

namespace mirlet {
namespace {

struct AudioOut {
  bool ok;
  bool isSpeaker;
  std::string transport;
  std::string name;
  bool headphones;
};

std::string encode(const AudioOut& record) {
  JsonWriter json;
  json.beginObject()
      .key("ok")
      .value(record.ok)
      .key("isSpeaker")
      .value(record.isSpeaker)
      .key("transport")
      .value(record.transport)
      .key("name")
      .value(record.name)
      .key("headphones")
      .value(record.headphones)
      .endObject();
  return json.text();
}

constexpr AudioObjectPropertyAddress address(std::uint32_t selector, std::uint32_t scope) {
  return {selector, scope, kAudioObjectPropertyElementMain};
}

// Reads a four-character code or flag; `value` keeps its preset when the read fails.
bool readCode(AudioHardware& hardware, AudioObjectID device, AudioObjectPropertyAddress where,
              std::uint32_t& value) {
  std::uint32_t capacity = sizeof value;
  return hardware.getPropertyData(device, where, 0, nullptr, capacity, &value) == 0;
}

std::string readName(AudioHardware& hardware, AudioObjectID device) {
  AudioStringRef reference = nullptr;
  std::uint32_t capacity = sizeof reference;
  const auto where = address(kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal);
  const OSStatus status = hardware.getPropertyData(device, where, 0, nullptr, capacity, &reference);
  // The string is ours whatever the status says, once one has been handed over.
  const std::unique_ptr<std::string> owned(reference);
  if (status != 0 || !owned) return {};
  return *owned;
}

// Only ASCII letters are folded: the words searched for are ASCII, and no other character's
// lowercase mapping yields one of their letters (the Kelvin sign becomes "k", which none holds,
// and "İ" becomes "i" followed by a combining dot, which no word has), so a full Unicode mapping
// would find exactly the same words.
std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

bool nameSaysHeadphones(std::string_view name) {
  const std::string lower = lowercased(name);
  for (std::string_view word : {"headphone", "airpod", "auricular", "buds"})
    if (lower.find(word) != std::string::npos) return true;
  return false;
}

bool isSpeaker(std::uint32_t transport, bool headphones) {
  if (transport == fourCharCode("bltn")) return !headphones;
  return transport == fourCharCode("hdmi") || transport == fourCharCode("dprt") ||
         transport == fourCharCode("airp");
}

}  // namespace

void audioOut(AudioHardware& hardware, Output& out) {
  const std::optional<AudioObjectID> device = defaultOutputDevice(hardware);
  if (!device) {
    out.emit("{\"ok\":false}");
    out.exit(0);
  }
  // A failed read leaves the preset 0, which is reported as it stands.
  std::uint32_t transport = 0;
  readCode(hardware, *device,
           address(kAudioDevicePropertyTransportType, kAudioObjectPropertyScopeGlobal), transport);
  const std::string name = readName(hardware, *device);
  std::uint32_t dataSource = 0;
  bool headphones =
      readCode(hardware, *device,
               address(kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeOutput),
               dataSource) &&
      dataSource == fourCharCode("hdpn");
  if (!headphones) headphones = nameSaysHeadphones(name);

  const AudioOut record{true, isSpeaker(transport, headphones), fourCC(transport), name,
                        headphones};
  out.emit(encode(record));
  out.exit(0);
}

}  // namespace mirlet
