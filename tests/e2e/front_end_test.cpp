// The command front end, run as a real process: the reasons and answers of each word (exactly
// what each stream carries), and the property list.

#include <gtest/gtest.h>

#include <signal.h>

#include "e2e/desktop.hpp"
#include "e2e/screen_support.hpp"

namespace mirlet::testing {
namespace {

// The last rows run where mirlet may not see the screen; `request` asks where the desktop has a
// way to, which on GNOME is enabling mirlet's extension, so `check` says yes after it there.
TEST(E2EFrontEnd, EachWordGivesItsLineOrItsReasonWithStatusOne) {
  TempDir dir;
  SilentSocket compositor(dir / "wayland-hung");  // takes connections, never answers
  ASSERT_TRUE(compositor.ok());
  PrivateX stopped({});  // an X server that stopped, in a debugger say
  stopped.server.signal(SIGSTOP);
  const EnvChanges hungX = {{"DISPLAY", stopped.display}, {"WAYLAND_DISPLAY", std::nullopt}};
  testDisplay();
  const std::string asked = testDesktop() == DesktopKind::gnome ? "true" : "false";
  const std::tuple<std::vector<std::string>, EnvChanges, bool, std::string, std::string> cases[] = {
      {{}, {}, false, "", "usage: mirlet windows|shot|audio|audioout ...\n"},
      {{"check "}, {}, false, "", "unknown command check \n"},
      {{"shot", "4294967296", "x.png"}, {}, false, "", "usage: mirlet shot <windowID> <out.png>\n"},
      {{"shot", "4294967295", "x.png"}, {}, false, "", "window_not_found\n"},
      {{"audio"}, {}, false, "", "usage: mirlet audio <out.m4a>\n"},
      {{"request"}, {}, false, "{\"screen\":true}\n", ""},
      {{"request"}, noDisplayEnv(), false, "{\"screen\":false}\n", ""},
      {{"windows"}, {{"WAYLAND_DISPLAY", dir / "wayland-hung"}}, false, "", "no_shareable_content\n"},
      {{"check"}, hungX, false, "{\"screen\":false}\n", ""},
      {{"windows"}, hungX, false, "", "no_shareable_content\n"},
      {{"check"}, {}, true, "{\"screen\":false}\n", ""},
      {{"request"}, {}, true, "{\"screen\":" + asked + "}\n", ""},
      {{"check"}, {}, true, "{\"screen\":" + asked + "}\n", ""},
  };
  std::optional<Unseeing> unseeing;
  for (auto [args, env, unseen, out, err] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    if (unseen && !unseeing) unseeing.emplace();
    if (unseen) env.insert(env.end(), unseeing->env.begin(), unseeing->env.end());
    const RunResult result = runMirlet(args, env);
    EXPECT_EQ(std::tuple(result.status, result.out, result.err),
              std::tuple(err.empty() ? 0 : 1, out, err));
  }
}

TEST(E2EFrontEnd, TheExecutableCarriesItsPropertyList) {
  TempDir dir;
  ASSERT_EQ(run({"objcopy", "-O", "binary", "--only-section=.info_plist", mirletBinary(),
                 dir / "out.plist"}).status, 0);
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
