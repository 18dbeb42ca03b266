#pragma once
// A strict reader for the JSON that the fuzzers produce: it accepts exactly RFC 8259 text in
// valid UTF-8 and hands back what a string decodes to, so a fuzzer can compare it with its input.

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
    std::string quoted = "\"";
    quoted.append(body);
    quoted += '"';
    JsonReader reader(quoted);
    return reader.string(&decoded) && reader.pos_ == quoted.size();
  }

  std::string lastString;
  double lastNumber = 0;

 private:
  bool value() {
    if (pos_ >= text_.size()) return false;
    switch (text_[pos_]) {
      case '{': return object();
      case '[': return array();
      case '"': return string(&lastString);
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
  bool object() {
    ++pos_;
    if (peek('}')) return ++pos_, true;
    for (;;) {
      std::string key;
      if (!string(&key) || !peek(':')) return false;
      ++pos_;
      if (!value()) return false;
      if (peek('}')) return ++pos_, true;
      if (!peek(',')) return false;
      ++pos_;
    }
  }
  bool array() {
    ++pos_;
    if (peek(']')) return ++pos_, true;
    for (;;) {
      if (!value()) return false;
      if (peek(']')) return ++pos_, true;
      if (!peek(',')) return false;
      ++pos_;
    }
  }
  bool number() {
    const std::size_t start = pos_;
    if (peek('-')) ++pos_;
    if (peek('0')) {
      ++pos_;
    } else if (!digits()) {
      return false;
    }
    if (peek('.')) {
      ++pos_;
      if (!digits()) return false;
    }
    if (peek('e') || peek('E')) {
      ++pos_;
      if (peek('+') || peek('-')) ++pos_;
      if (!digits()) return false;
    }
    lastNumber = std::strtod(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr);
    return true;
  }
  bool digits() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }
  bool peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }

  static void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  // One UTF-8 sequence at pos_, strictly (no overlongs, surrogates or values past U+10FFFF).
  bool utf8(std::string& out) {
    const auto at = [&](std::size_t i) -> unsigned {
      return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0u;
    };
    const unsigned lead = at(pos_);
    int length;
    std::uint32_t cp;
    if (lead < 0x80) return false;
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

  bool string(std::string* decoded) {
    if (!peek('"')) return false;
    ++pos_;
    decoded->clear();
    for (;;) {
      if (pos_ >= text_.size()) return false;
      const unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') return ++pos_, true;
      if (c < 0x20) return false;
      if (c >= 0x80) {
        if (!utf8(*decoded)) return false;
        continue;
      }
      ++pos_;
      if (c != '\\') {
        *decoded += static_cast<char>(c);
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      switch (e) {
        case '"': *decoded += '"'; break;
        case '\\': *decoded += '\\'; break;
        case '/': *decoded += '/'; break;
        case 'b': *decoded += '\b'; break;
        case 'f': *decoded += '\f'; break;
        case 'n': *decoded += '\n'; break;
        case 'r': *decoded += '\r'; break;
        case 't': *decoded += '\t'; break;
        case 'u': {
          if (pos_ + 4 > text_.size()) return false;
          std::uint32_t cp = 0;
          for (int i = 0; i < 4; ++i) {
            const char h = text_[pos_++];
            cp <<= 4;
            if (h >= '0' && h <= '9') cp |= static_cast<std::uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f') cp |= static_cast<std::uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') cp |= static_cast<std::uint32_t>(h - 'A' + 10);
            else return false;
          }
          if (cp >= 0xD800 && cp <= 0xDFFF) return false;  // our writers never split pairs
          appendUtf8(*decoded, cp);
          break;
        }
        default: return false;
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
