// The command front end, run as a real process: failures, the permission answers, one line a run
// and the property list.

#include <gtest/gtest.h>

#include <algorithm>

#include "fuzz/json_check.hpp"
#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

TEST(E2EFrontEnd, FailuresWriteOnlyTheReasonWithStatusOne) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "usage: mirlet windows|shot|audio|audioout ...\n"},
      {{"check "}, "unknown command check \n"},
      {{"shot", "4294967296", "x.png"}, "usage: mirlet shot <windowID> <out.png>\n"},
      {{"audio"}, "usage: mirlet audio <out.m4a>\n"},
  };
  for (const auto& [args, reason] : cases) {
    const RunResult result = runMirlet(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, reason);
  }
}

TEST(E2EFrontEnd, PermissionAnswersFollowTheDisplay) {
  const std::tuple<std::string, EnvChanges, std::string> cases[] = {
      {"check", {}, "{\"screen\":true}\n"},
      {"request", {}, "{\"screen\":true}\n"},
      {"check", {{"DISPLAY", ":999"}}, "{\"screen\":false}\n"},
      {"request", {{"DISPLAY", std::nullopt}}, "{\"screen\":false}\n"},
  };
  testDisplay();
  for (const auto& [command, env, line] : cases) {
    const RunResult result = runMirlet({command, "extra", "words"}, env);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, line);
    EXPECT_EQ(result.err, "");
  }
}

// One valid JSON line and nothing else, the same run after run.
TEST(E2EFrontEnd, EachAnsweringCommandWritesOneLineRunAfterRun) {
  for (const std::string command : {"check", "request", "micbusy", "windows", "audioout"}) {
    SCOPED_TRACE(command);
    const RunResult first = runMirlet({command});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(first.err, "");
    ASSERT_EQ(std::count(first.out.begin(), first.out.end(), '\n'), 1);
    ASSERT_EQ(first.out.back(), '\n');
    fuzz::JsonReader reader(std::string_view(first.out).substr(0, first.out.size() - 1));
    ASSERT_TRUE(reader.document()) << first.out;
    for (int i = 0; i < 5; ++i) {
      const RunResult again = runMirlet({command});
      ASSERT_EQ(std::tie(again.signal, again.status, again.out, again.err),
                std::tie(first.signal, first.status, first.out, first.err));
    }
  }
}

TEST(E2EFrontEnd, TheExecutableCarriesItsPropertyList) {
  TempDir dir;
  const RunResult copy = run({"objcopy", "-O", "binary", "--only-section=.info_plist",
                              mirletBinary(), dir / "out.plist"});
  ASSERT_EQ(copy.status, 0) << copy.err;
  const std::string plist = readFile(dir / "out.plist");
  for (const char* expected :
       {"<key>CFBundleShortVersionString</key>\n\t<string>1.0</string>",
        "<key>NSMicrophoneUsageDescription</key>\n\t<string>OMR captura el audio de tus reuniones "
        "para transcribirlas.</string>",
        "<key>CFBundleName</key>", "<key>CFBundleIdentifier</key>"})
    EXPECT_NE(plist.find(expected), std::string::npos) << expected;
}

}  // namespace
}  // namespace mirlet::testing
