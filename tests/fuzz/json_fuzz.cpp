// Feeds arbitrary bytes to both JSON writers: every line they make must be valid JSON, and valid
// UTF-8 input must come back unchanged after decoding.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json_check.hpp"
#include "mirlet/cli/json.hpp"

using mirlet::fuzz::JsonReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const std::string line = "{\"ok\":true,\"path\":\"" + mirlet::jsonStringBody(input) + "\"}";
  JsonReader lineReader(line);
  if (!lineReader.document()) std::abort();
  std::string decoded;
  if (!JsonReader::decodeBody(mirlet::jsonStringBody(input), decoded)) std::abort();
  if (mirlet::fuzz::isUtf8(input) && decoded != input) std::abort();

  double number = 0;
  if (size >= sizeof number) std::memcpy(&number, data, sizeof number);
  mirlet::JsonWriter writer;
  writer.beginArray().beginObject().key(input).value(input).key("n").value(number).endObject();
  writer.endArray();
  JsonReader recordReader(writer.text());
  if (!recordReader.document()) std::abort();
  if (mirlet::fuzz::isUtf8(input) && recordReader.lastString != input) std::abort();
  if (number == number && number - number == 0 && recordReader.lastNumber != number) std::abort();
  return 0;
}
