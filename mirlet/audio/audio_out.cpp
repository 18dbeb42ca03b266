#include "mirlet/audio/audio_out.hpp"

#include <string_view>

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
  JsonWriter json(Solidus::escaped);
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

bool isSpeaker(Transport transport, bool headphones) {
  if (transport == Transport::builtIn) return !headphones;
  return transport == Transport::hdmi || transport == Transport::displayPort ||
         transport == Transport::airPlay;
}

// The four-character code by which callers know each transport, less its trailing blank ("usb ").
// A transport that nothing tells is the code 0: four NUL characters.
std::string_view transportText(Transport transport) {
  switch (transport) {
    case Transport::builtIn: return "bltn";
    case Transport::usb: return "usb";
    case Transport::bluetooth: return "blue";
    case Transport::firewire: return "1394";
    case Transport::thunderbolt: return "thun";
    case Transport::hdmi: return "hdmi";
    case Transport::displayPort: return "dprt";
    case Transport::airPlay: return "airp";
    case Transport::virtualDevice: return "virt";
    case Transport::unknown: break;
  }
  return std::string_view("\0\0\0\0", 4);
}

}  // namespace

std::string audioOut(AudioDevices& devices) {
  const auto device = devices.defaultOutput().value_or(std::nullopt);
  if (!device) return JsonWriter(Solidus::escaped).beginObject().key("ok").value(false).endObject().text();
  const bool headphones = device->headphonesPort || nameSaysHeadphones(device->name);
  return encode({true, isSpeaker(device->transport, headphones),
                 std::string(transportText(device->transport)), device->name, headphones});
}

}  // namespace mirlet
