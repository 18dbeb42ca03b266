// Feeds arbitrary bytes to both JSON writers: every line they make must be valid JSON in valid
// UTF-8, with \u escapes only where JSON requires one (a control character), and valid UTF-8 input
// must come back unchanged after decoding.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <string_view>

#include "mirlet/cli/json.hpp"

namespace {

// No overlongs, surrogates or values past U+10FFFF.
bool isUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    unsigned cp = n == 1 ? c : c & (0x7Fu >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n;
  }
  return true;
}

// One JSON string at `p` in `t`, decoded into `out`; `p` ends past its closing quotation mark.
bool readString(std::string_view t, std::size_t& p, std::string& out) {
  if (t.substr(p, 1) != "\"") return false;
  const std::string_view plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
  for (++p; p < t.size() && t[p] != '"'; ++p) {
    if (static_cast<unsigned char>(t[p]) < 0x20) return false;
    if (t[p] != '\\') {
      out += t[p];
    } else if (++p < t.size() && plain.find(t[p]) != plain.npos) {
      out += meant[plain.find(t[p])];
    } else if (static const std::regex control("u00[01][0-9a-fA-F]");
               std::regex_match(std::string(t.substr(p, 5)), control)) {
      out += static_cast<char>(std::stoi(std::string(t.substr(p + 1, 4)), nullptr, 16));
      p += 4;
    } else {
      return false;
    }
  }
  return p++ < t.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const bool utf8 = isUtf8(input);

  const std::string line = mirlet::JsonWriter(mirlet::Solidus::asIs).value(input).text();
  std::size_t p = 0;
  std::string body, key, value;
  if (!isUtf8(line) || !readString(line, p, body) || p != line.size()) std::abort();
  if (utf8 && body != input) std::abort();

  double number = 0;
  if (size >= sizeof number) std::memcpy(&number, data, sizeof number);
  mirlet::JsonWriter writer(mirlet::Solidus::escaped);
  writer.beginArray().beginObject().key(input).value(input).key("n").value(number).endObject();
  const std::string text = writer.endArray().text();
  // [{"<key>":"<value>","n":<number>}]
  p = 2;
  if (!isUtf8(text) || !text.starts_with("[{") || !readString(text, p, key) ||
      text.substr(p, 1) != ":" || !readString(text, ++p, value) ||
      text.compare(p, 5, ",\"n\":") != 0 || !text.ends_with("}]"))
    std::abort();
  if (utf8 && (key != input || value != input)) std::abort();
  const std::string written = text.substr(p + 5, text.size() - p - 7);
  static const std::regex grammar("-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?");
  if (!std::isfinite(number) ? written != "null"
                             : !std::regex_match(written, grammar) ||
                                   std::strtod(written.c_str(), nullptr) != number)
    std::abort();
  return 0;
}
