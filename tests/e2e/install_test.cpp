// The installed layout: the executable finds its loadable modules beside it in a build folder and
// in lib/mirlet once installed, and without them it still answers plainly.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/harness.hpp"

namespace mirlet::testing {
namespace {

std::string buildFolder() { return std::filesystem::path(mirletBinary()).parent_path().string(); }

TEST(E2EInstall, TheInstalledToolFindsItsModules) {
  TempDir prefix;
  const RunResult install =
      run({"cmake", "--install", buildFolder(), "--prefix", prefix.path()}, {}, 60s);
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  const std::string installed = prefix / "bin/mirlet";
  for (const std::string command : {"audioout", "micbusy", "check", "windows"}) {
    SCOPED_TRACE(command);
    const RunResult expected = runMirlet({command});
    const RunResult actual = run({installed, command});
    EXPECT_EQ(actual.status, 0);
    EXPECT_EQ(actual.out, expected.out);
    EXPECT_EQ(actual.err, "");
  }
  // The default output exists on the test server, so a found module gives a real report.
  EXPECT_EQ(run({installed, "audioout"}).out.rfind("{\"ok\":true,", 0), 0u);
}

TEST(E2EInstall, WithoutItsModulesTheToolStillAnswersPlainly) {
  TempDir dir;
  const std::string alone = dir / "mirlet";
  std::filesystem::copy_file(mirletBinary(), alone);
  std::filesystem::permissions(alone, std::filesystem::perms::owner_all);

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string errPrefix;
  };
  const Case cases[] = {
      {{"check"}, 0, "{\"screen\":false}\n", ""},
      {{"audioout"}, 0, "{\"ok\":false}\n", ""},
      {{"micbusy"}, 0, "{\"busy\":false}\n", ""},
      {{"windows"}, 1, "", "no_shareable_content\n"},
      {{"shot", "1", dir / "x.png"}, 1, "", "no_shareable_content\n"},
      {{"audio", dir / "x.m4a"}, 1, "", "no_display\n"},
  };
  testDisplay();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> argv{alone};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult result = run(argv);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err.rfind(c.errPrefix, 0), 0u) << result.err;
    if (c.errPrefix.empty()) {
      EXPECT_EQ(result.err, "");
    }
  }
}

}  // namespace
}  // namespace mirlet::testing
