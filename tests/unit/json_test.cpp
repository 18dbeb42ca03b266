#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
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

TEST(JsonText, NumbersReadBackAsTheSameValue) {
  for (double d : {100.7, 1e21, 1e-7, 2.5e-300, 1.7976931348623157e308, 123456789.123456789})
    EXPECT_EQ(std::strtod(written(d).c_str(), nullptr), d) << written(d);
  const std::pair<double, std::string> exact[] = {
      {640.5, "640.5"}, {-12.25, "-12.25"}, {80.0, "80"}, {0.1, "0.1"}, {-1920.0, "-1920"}};
  for (const auto& [d, t] : exact) EXPECT_EQ(written(d), t);
  EXPECT_EQ(written(std::uint32_t{4294967295u}), "4294967295");
  // Infinities and NaN have no JSON form: null keeps the line valid.
  for (double d : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
    EXPECT_EQ(written(d), "null");
}

TEST(JsonText, RecordsAreCompactWithMembersInTheOrderWritten) {
  JsonWriter writer;
  writer.beginArray();
  writer.beginObject().key("id").value(std::uint32_t{7}).key("k/ey").value(-3.5)
      .key("ok").value(true).key("no").value(false).endObject();
  writer.beginObject().endObject().beginArray().endArray().endArray();
  EXPECT_EQ(writer.text(), "[{\"id\":7,\"k\\/ey\":-3.5,\"ok\":true,\"no\":false},{},[]]");
}

}  // namespace
}  // namespace mirlet
