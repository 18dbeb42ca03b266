#include <gtest/gtest.h>

#include <string>

#include "mirlet/cli/json.hpp"

namespace mirlet {
namespace {

template <class T>
std::string written(T value) {
  JsonWriter writer;
  writer.value(value);
  return writer.text();
}

// The same body in an assembled line and in an encoded record, where a solidus is also escaped.
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
    EXPECT_EQ(jsonStringBody(input), body);
    EXPECT_EQ(written(std::string_view(input)), "\"" + body + "\"");
  }
  EXPECT_EQ(jsonStringBody("/tmp/x.png"), "/tmp/x.png");
  EXPECT_EQ(written(std::string_view("/tmp/x.png")), "\"\\/tmp\\/x.png\"");
}

}  // namespace
}  // namespace mirlet
