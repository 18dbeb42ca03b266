#include "mirlet/audio/audio_out.hpp"

#include <string_view>

#include "mirlet/audio/device_queries.hpp"
#include "mirlet/cli/json.hpp"
#include "mirlet/platform/four_char_code.hpp"

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

// Only ASCII letters are folded: the words searched for are ASCII, and no other character's
// lowercase mapping yields one of their letters (the Kelvin sign becomes "k", which none holds,
// and "İ" becomes "i" followed by a combining dot, which no word has), so a full Unicode mapping
// would find exactly the same words.
bool nameSaysHeadphones(std::string_view name) {
  std::string lower(name);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
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

std::string audioOut(AudioDevices& devices) {
  const std::optional<OutputDevice> device = devices.defaultOutput();
  if (!device) return "{\"ok\":false}";
  const bool headphones = device->headphonesPort || nameSaysHeadphones(device->name);
  return encode({true, isSpeaker(device->transport, headphones), fourCC(device->transport),
                 device->name, headphones});
}

}  // namespace mirlet
