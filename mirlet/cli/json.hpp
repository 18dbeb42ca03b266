#pragma once
// JSON text for result lines: one writer for every line.

#include <cstdint>
#include <string>
#include <string_view>

namespace mirlet {

// How a solidus inside a string is written. Lines that carry a path the caller gave write it as
// it is, so the caller reads back exactly its own text; records of the desktop's texts (window
// titles, device names) write "\/", as a JSON encoder at its default settings does.
enum class Solidus { asIs, escaped };

// A compact writer: no white space, members in the order written, quotation mark, reverse solidus
// and U+0000 to U+001F escaped, non-ASCII as UTF-8 (bytes that are not valid UTF-8 become U+FFFD,
// so the line stays valid JSON), integers as integers and doubles in the shortest text that reads
// back as the same double.
class JsonWriter {
 public:
  explicit JsonWriter(Solidus solidus) : solidus_(solidus) {}

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
  Solidus solidus_;
  std::string text_;
  bool needsComma_ = false;
};

}  // namespace mirlet
