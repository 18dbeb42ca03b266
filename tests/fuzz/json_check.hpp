#pragma once
// A strict reader for the JSON that our writers produce: it accepts exactly RFC 8259 text in
// valid UTF-8, with \u escapes only where JSON requires one (a control character), and hands back
// what a string decodes to, so a fuzzer can compare it with its input.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace mirlet::fuzz {

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  // The whole text is one JSON value.
  bool document() { return value() && pos_ == text_.size(); }

  // A string body (what stands between the quotation marks) decoded to UTF-8.
  static bool decodeBody(std::string_view body, std::string& decoded) {
    const std::string quoted = "\"" + std::string(body) + "\"";
    JsonReader reader(quoted);
    return reader.string(decoded) && reader.pos_ == quoted.size();
  }

  std::string lastString;
  double lastNumber = 0;

 private:
  bool value() {
    switch (pos_ < text_.size() ? text_[pos_] : '\0') {
      case '{': return sequence('}', true);
      case '[': return sequence(']', false);
      case '"': return string(lastString);
      case 't': return literal("true");
      case 'f': return literal("false");
      case 'n': return literal("null");
      default: return number();
    }
  }
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  bool take(char c) { return pos_ < text_.size() && text_[pos_] == c && (++pos_, true); }
  // An object's members or an array's elements, after the opening bracket.
  bool sequence(char close, bool members) {
    ++pos_;
    if (take(close)) return true;
    for (;;) {
      std::string key;
      if (members && !(string(key) && take(':'))) return false;
      if (!value()) return false;
      if (take(close)) return true;
      if (!take(',')) return false;
    }
  }
  bool digits() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }
  bool number() {
    const std::size_t start = pos_;
    take('-');
    if (!take('0') && !digits()) return false;
    if (take('.') && !digits()) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    lastNumber = std::strtod(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr);
    return true;
  }

  // One UTF-8 sequence at pos_, strictly (no overlongs, surrogates or values past U+10FFFF).
  bool utf8(std::string& out) {
    const auto at = [&](std::size_t i) -> unsigned {
      return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0u;
    };
    const unsigned lead = at(pos_);
    int length;
    std::uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, cp = lead & 0x07;
    else return false;
    for (int i = 1; i < length; ++i) {
      const unsigned c = at(pos_ + static_cast<std::size_t>(i));
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    out.append(text_.substr(pos_, static_cast<std::size_t>(length)));
    pos_ += static_cast<std::size_t>(length);
    return true;
  }

  static int hexDigit(char h) {
    if (h >= '0' && h <= '9') return h - '0';
    if (h >= 'a' && h <= 'f') return h - 'a' + 10;
    if (h >= 'A' && h <= 'F') return h - 'A' + 10;
    return -1;
  }

  bool string(std::string& decoded) {
    if (!take('"')) return false;
    decoded.clear();
    for (;;) {
      if (pos_ >= text_.size()) return false;
      const auto c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') return ++pos_, true;
      if (c < 0x20) return false;
      if (c >= 0x80) {
        if (!utf8(decoded)) return false;
        continue;
      }
      ++pos_;
      if (c != '\\') {
        decoded += static_cast<char>(c);
        continue;
      }
      const char e = pos_ < text_.size() ? text_[pos_++] : '\0';
      const std::string_view plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
      if (const auto i = plain.find(e); e != '\0' && i != std::string_view::npos) {
        decoded += meant[i];
      } else if (e == 'u' && text_.substr(pos_, 2) == "00" && pos_ + 4 <= text_.size()) {
        const int high = hexDigit(text_[pos_ + 2]), low = hexDigit(text_[pos_ + 3]);
        if (high < 0 || low < 0 || high * 16 + low >= 0x20) return false;
        decoded += static_cast<char>(high * 16 + low);
        pos_ += 4;
      } else {
        return false;
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// Whether `text` is valid UTF-8 throughout.
inline bool isUtf8(std::string_view text) {
  std::string body;
  for (char c : text) {
    // Stand-ins keep the neighbours of characters that a string body would have to escape apart.
    const bool escaped = c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
    body += escaped ? 'a' : c;
  }
  std::string ignored;
  return JsonReader::decodeBody(body, ignored);
}

}  // namespace mirlet::fuzz
