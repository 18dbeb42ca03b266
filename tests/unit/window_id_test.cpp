#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "mirlet/cli/window_id.hpp"

namespace mirlet {
namespace {

TEST(WindowID, AcceptsSignedDecimalTextWithinThirtyTwoBits) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"0", 0u}, {"42", 42u}, {"+42", 42u}, {"0042", 42u}, {"-0", 0u}, {"-000", 0u}, {"+0", 0u},
      {"4294967295", 4294967295u}, {"+4294967295", 4294967295u},
      {"0000000000004294967295", 4294967295u}, {"429496729", 429496729u},
      {"4294967290", 4294967290u}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(parseWindowID(text), value) << '"' << text << '"';
}

TEST(WindowID, RejectsEverythingElse) {
  const std::string rejected[] = {
      "", "+", "-", "-1", "-01", "-4294967295", "4294967296", "4294967300", "42949672950",
      "99999999999999999999999",
      "18446744073709551616",  // would wrap a 64-bit accumulator to 0
      "0x2A", "42x", " 42", "42 ", "4 2", "\t42", "42\n", "+-42", "--0", "++1", "4.0", "4,2",
      "1e3",
      "\xD9\xA4\xD9\xA2",          // Arabic-Indic digits four and two
      "\xEF\xBC\x94\xEF\xBC\x92",  // full-width digits
      std::string("4\0" "2", 3)};
  for (const auto& text : rejected)
    EXPECT_EQ(parseWindowID(text), std::nullopt) << '"' << text << '"';
}

}  // namespace
}  // namespace mirlet
