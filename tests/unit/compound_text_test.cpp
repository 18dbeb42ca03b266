// COMPOUND_TEXT titles: the default halves, switches of either half, two-byte sets in both of
// their forms, UTF-8 segments, and input that ends or escapes badly.

#include <gtest/gtest.h>

#include <string>

#include "mirlet/platform/linux/x11/compound_text.hpp"

namespace mirlet::testing {
namespace {

TEST(CompoundText, DecodesToUtf8) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"ascii", "plain title", "plain title"},
      {"right half is Latin-1 by default", "caf\xe9", "caf\xc3\xa9"},
      {"Latin-2 right half", "\x1b-Bza\xbf\xf3\xb3\xe6", "za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87"},
      {"Cyrillic", "\x1b-L\xbf\xe0\xd8\xd2\xd5\xe2", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"},
      {"JIS X 0208 in the right half", "\x1b$)B\xc6\xfc\xcb\xdc", "\xe6\x97\xa5\xe6\x9c\xac"},
      {"JIS X 0208 in the left half, then ASCII", "\x1b$(BF|K\\\x1b(B!",
       "\xe6\x97\xa5\xe6\x9c\xac!"},
      {"GB 2312", "\x1b$)A\xd6\xd0\xce\xc4", "\xe4\xb8\xad\xe6\x96\x87"},
      {"UTF-8 segment", "a\x1b%G\xe2\x9c\x93\x1b%@b", "a\xe2\x9c\x93" "b"},
      {"unknown set", "\x1b-Z\xe9\xe9", replacement + replacement},
      {"half a character at the end", "\x1b$)B\xc6", replacement},
      {"escape cut short", "abc\x1b$", "abc"},
      {"tab and newline stay, other controls go", "a\tb\nc\x01\x7f", "a\tb\nc"},
      {"direction sequence skipped", "a\x9b" "1]b\x9b]", "ab"},
      {"extended segment replaced", std::string("a\x1b%/1\x80\x83xyzb", 11), "a" + replacement + "b"},
  };
  for (const auto& c : cases) EXPECT_EQ(x11::compoundTextToUtf8(c.in), c.out) << c.name;
}

}  // namespace
}  // namespace mirlet::testing
