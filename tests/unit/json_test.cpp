#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "mirlet/cli/json.hpp"

namespace mirlet {
namespace {

struct Case {
  std::string input;
  std::string body;    // as a JSON string body in an assembled line
  std::string record;  // as a string value in an encoded record
};

TEST(JsonText, EscapesWhatJsonRequiresAndNothingElse) {
  using namespace std::string_literals;
  const Case cases[] = {
      {"plain", "plain", "\"plain\""},
      {"a\"b", "a\\\"b", "\"a\\\"b\""},
      {"a\\b", "a\\\\b", "\"a\\\\b\""},
      {"/tmp/x.png", "/tmp/x.png", "\"\\/tmp\\/x.png\""},
      {"\b\t\n\f\r", "\\b\\t\\n\\f\\r", "\"\\b\\t\\n\\f\\r\""},
      {"\x01\x1f", "\\u0001\\u001f", "\"\\u0001\\u001f\""},
      {"\0\0\0\0"s, "\\u0000\\u0000\\u0000\\u0000", "\"\\u0000\\u0000\\u0000\\u0000\""},
      {"\x7f ~", "\x7f ~", "\"\x7f ~\""},
      {"café ünïcödé", "café ünïcödé", "\"café ünïcödé\""},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\""},  // U+10FFFF
      // Bytes that are not UTF-8 become U+FFFD, one per broken sequence.
      {"a\xFF" "b", "a\uFFFDb", "\"a\uFFFDb\""},
      {"\xC3", "\uFFFD", "\"\uFFFD\""},                    // cut short at the end
      {"\xC0\xAF", "\uFFFD\uFFFD", "\"\uFFFD\uFFFD\""},    // overlong solidus
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD", "\"\uFFFD\uFFFD\uFFFD\""},  // a surrogate
      {"\x80\"", "\uFFFD\\\"", "\"\uFFFD\\\"\""},         // stray continuation, then a quote
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    EXPECT_EQ(jsonStringBody(c.input), c.body);
    JsonWriter writer;
    writer.value(std::string_view(c.input));
    EXPECT_EQ(writer.text(), c.record);
  }
}

template <class T>
std::string written(T value) {
  JsonWriter writer;
  writer.value(value);
  return writer.text();
}

TEST(JsonText, NumbersReadBackAsTheSameValue) {
  for (double d : {100.7, 1e21, 1e-7, 2.5e-300, 1.7976931348623157e308, 123456789.123456789})
    EXPECT_EQ(std::strtod(written(d).c_str(), nullptr), d) << written(d);
  const std::pair<double, std::string> exact[] = {
      {640.5, "640.5"}, {-12.25, "-12.25"}, {80.0, "80"}, {0.1, "0.1"}, {-1920.0, "-1920"}};
  for (const auto& [d, t] : exact) EXPECT_EQ(written(d), t);
  for (std::uint32_t id : {0u, 42u, 4294967295u}) EXPECT_EQ(written(id), std::to_string(id));
  // Infinities and NaN have no JSON form: null keeps the line valid.
  for (double d : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    JsonWriter writer;
    writer.beginArray().value(d).endArray();
    EXPECT_EQ(writer.text(), "[null]");
  }
}

TEST(JsonText, RecordsAreCompactWithMembersInTheOrderWritten) {
  JsonWriter writer;
  writer.beginArray();
  writer.beginObject().key("id").value(std::uint32_t{7}).key("app").value("a/b").key("x").value(-3.5)
      .key("ok").value(true).key("no").value(false).endObject();
  writer.beginObject().key("k/ey").value("").endObject();
  writer.beginObject().endObject();
  writer.beginArray().endArray();
  writer.endArray();
  EXPECT_EQ(writer.text(),
            "[{\"id\":7,\"app\":\"a\\/b\",\"x\":-3.5,\"ok\":true,\"no\":false},"
            "{\"k\\/ey\":\"\"},{},[]]");
}

}  // namespace
}  // namespace mirlet
