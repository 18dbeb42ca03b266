#pragma once
// A strict reader for the JSON our writers produce: RFC 8259 text in valid UTF-8, with \u escapes
// only where JSON requires one (a control character). It keeps the last string value and number it
// read, so a fuzzer can compare them with what was written.

#include <cstdlib>
#include <string>
#include <string_view>

namespace mirlet::fuzz {

// Valid UTF-8 throughout: no overlongs, surrogates or values past U+10FFFF.
inline bool isUtf8(std::string_view s) {
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

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : t_(text) {}
  // The whole text is one JSON value.
  bool document() { return isUtf8(t_) && value() && p_ == t_.size(); }

  std::string lastString;
  double lastNumber = 0;

 private:
  char peek() const { return p_ < t_.size() ? t_[p_] : '\0'; }
  bool take(char c) { return peek() == c && (++p_, true); }
  bool word(std::string_view w) { return t_.substr(p_, w.size()) == w && (p_ += w.size(), true); }
  bool value() {
    if (take('[')) return sequence(']', false);
    if (take('{')) return sequence('}', true);
    if (peek() == '"') return string(lastString);
    return word("true") || word("false") || word("null") || number();
  }
  bool sequence(char close, bool members) {
    if (take(close)) return true;
    do {
      std::string key;
      if ((members && !(string(key) && take(':'))) || !value()) return false;
    } while (take(','));
    return take(close);
  }
  bool digits() {
    const std::size_t start = p_;
    while (peek() >= '0' && peek() <= '9') ++p_;
    return p_ > start;
  }
  bool number() {
    const std::size_t start = p_;
    take('-');
    if (!take('0') && !digits()) return false;
    if (take('.') && !digits()) return false;
    if ((take('e') || take('E')) && !((take('+') || take('-') || true) && digits())) return false;
    lastNumber = std::strtod(std::string(t_.substr(start, p_ - start)).c_str(), nullptr);
    return true;
  }
  bool string(std::string& out) {
    if (!take('"')) return false;
    out.clear();
    for (unsigned char c; (c = static_cast<unsigned char>(peek())) != '"'; ++p_) {
      if (c < 0x20) return false;  // a control character, or the end of the text
      if (c == '\\') {
        const std::string_view plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
        const std::string_view hex = ++p_ < t_.size() ? t_.substr(p_ + 1, 4) : "";  // \u00XX
        if (const auto i = plain.find(peek()); peek() != '\0' && i != plain.npos) {
          c = static_cast<unsigned char>(meant[i]);
        } else if (peek() == 'u' && hex.size() == 4 && hex.starts_with("00") && hex[2] <= '1' &&
                   hex.find_first_not_of("0123456789abcdefABCDEF") == hex.npos) {
          c = static_cast<unsigned char>(std::stoi(std::string(hex), nullptr, 16));
          p_ += 4;
        } else {
          return false;
        }
      }
      out += static_cast<char>(c);
    }
    return ++p_, true;
  }

  std::string_view t_;
  std::size_t p_ = 0;
};

}  // namespace mirlet::fuzz
