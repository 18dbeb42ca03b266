// The command front end, run as a real process: usage, unknown words, the permission answers and
// the property list.

#include <gtest/gtest.h>

#include <algorithm>

#include "fuzz/json_check.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

struct FailureCase {
  std::vector<std::string> args;
  std::string reason;
};

TEST(E2EFrontEnd, FailuresWriteOnlyTheReasonWithStatusOne) {
  // One of each kind: the dispatch table tests every text and check with fakes.
  const std::vector<FailureCase> cases = {
      {{}, "usage: mirlet windows|shot|audio|audioout ...\n"},
      {{"Check"}, "unknown command Check\n"},
      {{"check "}, "unknown command check \n"},
      {{""}, "unknown command \n"},
      {{"shot", "0x2A", "x.png"}, "usage: mirlet shot <windowID> <out.png>\n"},
      {{"audio"}, "usage: mirlet audio <out.m4a>\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = runMirlet(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.reason);
  }
}

TEST(E2EFrontEnd, PermissionAnswersFollowTheDisplay) {
  struct Case {
    std::string command;
    EnvChanges env;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"check", {}, "{\"screen\":true}\n"},
      {"request", {}, "{\"screen\":true}\n"},
      {"check", {{"DISPLAY", ":999"}}, "{\"screen\":false}\n"},
      {"request", {{"DISPLAY", std::nullopt}}, "{\"screen\":false}\n"},
  };
  testDisplay();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const RunResult result = runMirlet({c.command, "extra", "words"}, c.env);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, c.line);
    EXPECT_EQ(result.err, "");
  }
}

TEST(E2EFrontEnd, EachAnsweringCommandEndsCleanlyRunAfterRun) {
  for (const std::string command : {"check", "request", "micbusy", "windows", "audioout"}) {
    SCOPED_TRACE(command);
    const RunResult first = runMirlet({command});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(first.err, "");
    ASSERT_EQ(std::count(first.out.begin(), first.out.end(), '\n'), 1);
    ASSERT_EQ(first.out.back(), '\n');
    fuzz::JsonReader reader(std::string_view(first.out).substr(0, first.out.size() - 1));
    ASSERT_TRUE(reader.document()) << first.out;
    for (int i = 0; i < 15; ++i) {
      const RunResult again = runMirlet({command});
      ASSERT_EQ(again.signal, 0) << "run " << i;
      ASSERT_EQ(again.status, 0) << "run " << i;
      ASSERT_EQ(again.out, first.out) << "run " << i;
      ASSERT_EQ(again.err, "") << "run " << i;
    }
  }
}

TEST(E2EFrontEnd, TheExecutableCarriesItsPropertyList) {
  TempDir dir;
  const RunResult copy = run({"objcopy", "-O", "binary", "--only-section=.info_plist",
                              mirletBinary(), dir / "out.plist"});
  ASSERT_EQ(copy.status, 0) << copy.err;
  const std::string plist = readFile(dir / "out.plist");
  EXPECT_EQ(plist, readFile(std::string(MIRLET_SOURCE_DIR) + "/mirlet/Info.plist"));
  for (const char* expected :
       {"<key>CFBundleShortVersionString</key>\n\t<string>1.0</string>",
        "<key>NSMicrophoneUsageDescription</key>\n\t<string>OMR captura el audio de tus reuniones "
        "para transcribirlas.</string>",
        "<key>CFBundleName</key>\n\t<string>mirlet</string>", "<key>CFBundleIdentifier</key>"}) {
    EXPECT_NE(plist.find(expected), std::string::npos) << expected;
  }
}

}  // namespace
}  // namespace mirlet::testing
