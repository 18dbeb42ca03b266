#include <gtest/gtest.h>

#include <string>

#include "mirlet/cli/json.hpp"

namespace mirlet {
namespace {

std::string written(std::string_view text, Solidus solidus) {
  return JsonWriter(solidus).value(text).text();
}

// A path as the caller gave it, and a desktop's text as a JSON encoder writes it: the same but for
// the solidus.
TEST(JsonText, EscapesWhatJsonRequiresAndNothingElse) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"}, {"a\"b", "a\\\"b"}, {"a\\b", "a\\\\b"},
      {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"}, {"\x01\x1f", "\\u0001\\u001f"},
      {"\0\0"s, "\\u0000\\u0000"}, {"\x7f ~", "\x7f ~"}, {"café ünï", "café ünï"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF
      // Bytes that are not UTF-8 become U+FFFD, one per broken sequence.
      {"a\xFF" "b", "a\uFFFDb"},
      {"\xC3", "\uFFFD"},                        // cut short at the end
      {"\xC0\xAF", "\uFFFD\uFFFD"},              // overlong solidus
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},    // a surrogate
      {"\x80\"", "\uFFFD\\\""},                  // stray continuation, then a quote
  };
  for (const auto& [input, body] : cases) {
    SCOPED_TRACE(::testing::PrintToString(input));
    EXPECT_EQ(written(input, Solidus::asIs), "\"" + body + "\"");
    EXPECT_EQ(written(input, Solidus::escaped), "\"" + body + "\"");
  }
  EXPECT_EQ(written("/tmp/x.png", Solidus::asIs), "\"/tmp/x.png\"");
  EXPECT_EQ(written("/tmp/x.png", Solidus::escaped), "\"\\/tmp\\/x.png\"");
}

}  // namespace
}  // namespace mirlet
