#pragma once
// JSON text for result lines.

#include <cstdint>
#include <string>
#include <string_view>

namespace mirlet {

// `text` as the body of a JSON string in an assembled line: quotation mark, reverse solidus and
// U+0000 to U+001F escaped; the solidus and everything else copied. Bytes that are not valid
// UTF-8 become U+FFFD, so the line stays valid JSON.
std::string jsonStringBody(std::string_view text);

// A compact encoder for records: no white space, members in the order written, the solidus
// written "\/", non-ASCII as UTF-8, integers as integers and doubles in the shortest text that
// reads back as the same double.
class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(bool flag);
  JsonWriter& value(std::int64_t number);
  JsonWriter& value(std::uint32_t number) { return value(static_cast<std::int64_t>(number)); }
  JsonWriter& value(double number);

  const std::string& text() const { return text_; }

 private:
  void separate();
  std::string text_;
  bool needsComma_ = false;
};

}  // namespace mirlet
