#include "mirlet/platform/linux/x11/compound_text.hpp"

#include <iconv.h>

#include <cerrno>
#include <algorithm>
#include <cstddef>
#include <utility>

namespace mirlet::x11 {
namespace {

constexpr char kEscape = '\x1b';
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The character set a half of the code table is switched to, named as iconv knows it. Sets of
// two-byte characters are given in their EUC form: both bytes in the right half.
struct Charset {
  const char* iconvName = nullptr;  // nullptr: ASCII (left half) or unknown
  bool twoBytes = false;
  bool known = true;
};

constexpr Charset kAscii{};
constexpr Charset kLatin1{"ISO-8859-1", false, true};
constexpr Charset kUnknown{nullptr, false, false};

// ESC - F: a 96-character set for the right half.
Charset ninetySix(char final) {
  switch (final) {
    case 'A': return {"ISO-8859-1"};
    case 'B': return {"ISO-8859-2"};
    case 'C': return {"ISO-8859-3"};
    case 'D': return {"ISO-8859-4"};
    case 'F': return {"ISO-8859-7"};
    case 'G': return {"ISO-8859-6"};
    case 'H': return {"ISO-8859-8"};
    case 'L': return {"ISO-8859-5"};
    case 'M': return {"ISO-8859-9"};
    case 'b': return {"ISO-8859-15"};
    default: return kUnknown;
  }
}

// ESC $ ( F or ESC $ ) F: a set of 94 x 94 characters.
Charset twoByte(char final) {
  switch (final) {
    case 'A': return {"EUC-CN", true};
    case 'B': return {"EUC-JP", true};
    case 'C': return {"EUC-KR", true};
    default: return kUnknown;
  }
}

class Converter {
 public:
  explicit Converter(const char* from) : handle_(::iconv_open("UTF-8", from)) {}
  ~Converter() {
    if (handle_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Appends `bytes` as UTF-8; what cannot be converted becomes U+FFFD.
  void append(std::string_view bytes, std::size_t unit, std::string& out) {
    if (handle_ == reinterpret_cast<iconv_t>(-1)) return replace(bytes.size(), unit, out);
    std::string input(bytes);
    char* in = input.data();
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
      char buffer[256];
      char* outPointer = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t result = ::iconv(handle_, &in, &inLeft, &outPointer, &outLeft);
      out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
      if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      // A character this set lacks, or half of one at the end: skip it.
      const std::size_t skipped = std::min(unit, inLeft);
      out += kReplacement;
      in += skipped;
      inLeft -= skipped;
      ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    }
  }

  static void replace(std::size_t count, std::size_t unit, std::string& out) {
    for (std::size_t i = 0; i < (count + unit - 1) / unit; ++i) out += kReplacement;
  }

 private:
  iconv_t handle_;
};

void appendRun(const Charset& charset, std::string_view run, std::string& out) {
  if (run.empty()) return;
  const std::size_t unit = charset.twoBytes ? 2 : 1;
  if (!charset.known) return Converter::replace(run.size(), unit, out);
  if (charset.iconvName == nullptr) {  // ASCII
    out += run;
    return;
  }
  if (std::string_view(charset.iconvName) == kLatin1.iconvName) {
    for (const char c : run) {  // the common case needs no converter
      const auto byte = static_cast<unsigned char>(c);
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
    return;
  }
  Converter(charset.iconvName).append(run, unit, out);
}

}  // namespace

std::string compoundTextToUtf8(std::string_view text) {
  std::string out;
  Charset left = kAscii;
  Charset right = kLatin1;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == kEscape) {
      const std::string_view rest = text.substr(i + 1);
      if (rest.starts_with("%G")) {  // UTF-8 up to ESC % @ (or the end)
        const std::size_t end = text.find("\x1b%@", i + 3);
        out += text.substr(i + 3, end == std::string_view::npos ? std::string_view::npos
                                                                 : end - (i + 3));
        i = end == std::string_view::npos ? text.size() : end + 3;
        continue;
      }
      if (rest.size() >= 5 && rest[0] == '%' && rest[1] == '/') {
        // An extended segment: its length in the next two bytes, then data in a set named
        // inside it, which no modern program writes. Shown as one replacement.
        const std::size_t length = (static_cast<unsigned char>(rest[3]) & 0x7F) * 128u +
                                   (static_cast<unsigned char>(rest[4]) & 0x7F);
        out += kReplacement;
        i = std::min(text.size(), i + 6 + length);
        continue;
      }
      if (rest.size() >= 2 && rest[0] == '(') {
        left = rest[1] == 'B' || rest[1] == 'J' ? kAscii : kUnknown;
        i += 3;
        continue;
      }
      if (rest.size() >= 2 && rest[0] == '-') {
        right = ninetySix(rest[1]);
        i += 3;
        continue;
      }
      if (rest.size() >= 3 && rest[0] == '$' && (rest[1] == '(' || rest[1] == ')')) {
        (rest[1] == '(' ? left : right) = twoByte(rest[2]);
        i += 4;
        continue;
      }
      // An escape sequence of another kind: intermediate bytes, then one final byte.
      std::size_t end = i + 1;
      while (end < text.size() && text[end] >= 0x20 && text[end] <= 0x2F) ++end;
      i = std::min(text.size(), end + 1);
      continue;
    }
    if (static_cast<unsigned char>(c) == 0x9B) {  // a direction sequence: CSI ... ]
      const std::size_t end = text.find(']', i + 1);
      i = end == std::string_view::npos ? text.size() : end + 1;
      continue;
    }
    // A run of bytes in one half of the table.
    const bool inRight = static_cast<unsigned char>(c) >= 0xA0;
    const bool inLeft = static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
    if (!inRight && !inLeft) {  // controls: tab and newline stay, others go
      if (c == '\t' || c == '\n') out += c;
      ++i;
      continue;
    }
    std::size_t end = i;
    std::string run;
    while (end < text.size()) {
      const auto byte = static_cast<unsigned char>(text[end]);
      const bool same = inRight ? byte >= 0xA0 : (byte >= 0x20 && byte < 0x7F);
      if (!same) break;
      run += text[end];
      ++end;
    }
    const Charset& charset = inRight ? right : left;
    // A two-byte set in the left half is read in its EUC form, bytes moved to the right half.
    if (!inRight && charset.twoBytes)
      for (char& byte : run) byte = static_cast<char>(static_cast<unsigned char>(byte) | 0x80);
    appendRun(charset, run, out);
    i = end;
  }
  return out;
}

}  // namespace mirlet::x11
