// Feeds arbitrary bytes to both JSON writers: every line they make must be valid JSON in valid
// UTF-8, and valid UTF-8 input must come back unchanged after decoding.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json_check.hpp"
#include "mirlet/cli/json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const bool utf8 = mirlet::fuzz::isUtf8(input);

  const std::string text = "{\"ok\":true,\"path\":\"" + mirlet::jsonStringBody(input) + "\"}";
  mirlet::fuzz::JsonReader line(text);
  if (!line.document() || (utf8 && line.lastString != input)) std::abort();

  double number = 0;
  if (size >= sizeof number) std::memcpy(&number, data, sizeof number);
  mirlet::JsonWriter writer;
  writer.beginArray().beginObject().key(input).value(input).key("n").value(number).endObject();
  writer.endArray();
  mirlet::fuzz::JsonReader record(writer.text());
  if (!record.document() || (utf8 && record.lastString != input)) std::abort();
  if (number - number == 0 && record.lastNumber != number) std::abort();
  return 0;
}
