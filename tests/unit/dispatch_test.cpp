// The dispatcher with fake platform pieces: which word reaches which operation, the argument
// checks with their texts, and the window id as typed.

#include <gtest/gtest.h>

#include "fakes/fake_platform.hpp"
#include "mirlet/cli/window_id.hpp"
#include "mirlet/mirlet.hpp"

namespace mirlet::testing {
namespace {

TEST(Dispatch, EachWordGivesItsLineOrReason) {
  const std::string shotUsage = "usage: mirlet shot <windowID> <out.png>";
  struct Case {
    std::vector<std::string> args;
    CommandResult result;
    bool allowed = false;  // screen access before the run
    bool grant = false;    // given when asked for
  };
  const Case cases[] = {
      {{"check", "extra"}, "{\"screen\":true}", true},
      {{"check"}, "{\"screen\":false}", false, true},  // check never asks
      {{"request"}, "{\"screen\":true}", false, true},
      {{"request"}, "{\"screen\":false}"},
      {{"micbusy"}, "{\"busy\":false}"},
      {{"windows", "extra"}, "[]"},
      {{"audioOut"}, failure("unknown command audioOut")},
      {{"audio", "a.m4a"}, failure("no_display")},
      {{"audioout"}, "{\"ok\":false}"},
      {{"shot", "1"}, failure(shotUsage)},
      {{"shot", "", "x.png"}, failure(shotUsage)},
      {{"shot", "7", "x.png", "extra"}, failure("window_not_found")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    FakePlatform fakes;
    fakes.defaultScreenAccess.allowed = c.allowed;
    fakes.defaultScreenAccess.grantOnRequest = c.grant;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "/usr/bin/mirlet");
    Platform platform = fakes.platform();
    EXPECT_EQ(runCommand(args, platform, Reporter{[](std::string_view) {}, {}}), c.result);
  }
}

// Signed decimal text within 32 bits and nothing else.
TEST(Dispatch, WindowIdsAsTyped) {
  const std::pair<std::string, std::optional<std::uint32_t>> cases[] = {
      {"0", 0u}, {"+42", 42u}, {"0042", 42u}, {"-000", 0u}, {"4294967295", 4294967295u},
      {"0000000000004294967295", 4294967295u}, {"4294967296", {}}, {"-1", {}}, {"+", {}},
      {"18446744073709551616", {}},  // would wrap a 64-bit accumulator to 0
      {"0x2A", {}}, {" 42", {}}, {"42\n", {}}, {"--0", {}}, {"4.0", {}},
      {"\xEF\xBC\x94\xEF\xBC\x92", {}},  // full-width digits
      {std::string("4\0" "2", 3), {}}};
  for (const auto& [text, id] : cases) EXPECT_EQ(parseWindowID(text), id) << text;
}

}  // namespace
}  // namespace mirlet::testing
