#include "mirlet/cli/json.hpp"

#include <charconv>
#include <cmath>

namespace mirlet {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `text`, or, negated, the length of
// its longest start that could still have become one (at least 1).
int sequenceAt(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= text.size()) return -i;
    const unsigned char c = byte(static_cast<std::size_t>(i));
    if (c < low || c > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

void appendEscaped(std::string& out, std::string_view text, bool escapeSolidus) {
  static constexpr char kHex[] = "0123456789abcdef";
  while (!text.empty()) {
    const unsigned char c = static_cast<unsigned char>(text.front());
    if (c >= 0x80) {
      const int length = sequenceAt(text);
      if (length > 0) {
        out.append(text.substr(0, static_cast<std::size_t>(length)));
      } else {
        out.append(kReplacement);
      }
      text.remove_prefix(static_cast<std::size_t>(length > 0 ? length : -length));
      continue;
    }
    text.remove_prefix(1);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '/':
        out += escapeSolidus ? "\\/" : "/";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

}  // namespace

void JsonWriter::separate() {
  if (needsComma_) text_ += ',';
  needsComma_ = true;
}

JsonWriter& JsonWriter::beginObject() {
  separate();
  text_ += '{';
  needsComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  text_ += '}';
  needsComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  separate();
  text_ += '[';
  needsComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  text_ += ']';
  needsComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  separate();
  text_ += '"';
  appendEscaped(text_, name, solidus_ == Solidus::escaped);
  text_ += "\":";
  needsComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  separate();
  text_ += '"';
  appendEscaped(text_, text, solidus_ == Solidus::escaped);
  text_ += '"';
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  separate();
  text_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
  separate();
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  text_.append(buffer, result.ptr);
  return *this;
}

JsonWriter& JsonWriter::value(double number) {
  separate();
  // JSON has no text for infinities or NaN; null says "no number" without breaking the line.
  if (!std::isfinite(number)) {
    text_ += "null";
    return *this;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  text_.append(buffer, result.ptr);
  return *this;
}

}  // namespace mirlet
