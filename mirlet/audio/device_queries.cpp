#include "mirlet/audio/device_queries.hpp"

namespace mirlet {

bool micBusy(AudioDevices& devices) {
  return devices.inputInUse().value_or(false);
}

std::string fourCC(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned char>((code >> shift) & 0xFF);
    if (byte > 0x7F) return {};
    text += static_cast<char>(byte);
  }
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace mirlet
