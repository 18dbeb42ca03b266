// `windows` as a real process against real X clients on the private Xvfb, and both screen
// commands with no X server.

#include <gtest/gtest.h>

#include "e2e/screen_support.hpp"

namespace mirlet::testing {
namespace {

TEST(E2EScreenWindows, ListsClientsWithTitlesClassesAndFramesEscaped) {
  testDisplay();
  const std::string title = "a/b \"q\" \\ \nz \xc3\xa9\xe2\x9c\x93";
  XClient term = startClient(
      {"xterm", "-bw", "0", "-T", title, "-geometry", "40x10+-20+-15"}, "a/b.*");
  XClient logo =
      startClient({"xlogo", "-bw", "0", "-geometry", "300x200+100+100", "-title", "plain logo"},
                  "plain logo");
  const RunResult result = runMirlet({"windows"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  ASSERT_EQ(result.out.find('\n'), result.out.size() - 1) << "one line";
  EXPECT_EQ(result.out.front(), '[');
  EXPECT_EQ(recordOf(result.out, term.id).rfind(
                "{\"id\":" + term.id +
                    ",\"app\":\"XTerm\",\"title\":\"a\\/b \\\"q\\\" \\\\ \\nz \xc3\xa9\xe2\x9c\x93\","
                    "\"x\":-20,\"y\":-15,\"w\":",
                0),
            0u)
      << result.out;
  EXPECT_EQ(recordOf(result.out, logo.id),
            "{\"id\":" + logo.id +
                ",\"app\":\"XLogo\",\"title\":\"plain logo\",\"x\":100,\"y\":100,\"w\":300,\"h\":200}");
  // Front to back: the later window is on top.
  EXPECT_LT(result.out.find("\"id\":" + logo.id + ","), result.out.find("\"id\":" + term.id + ","));
}

TEST(E2EScreenWindows, EightyPointsEachWayIsTheSmallestListed) {
  testDisplay();
  struct Case {
    const char* geometry;
    bool listed;
  };
  std::vector<XClient> clients;
  const std::vector<Case> cases = {
      {"80x80+10+10", true}, {"79x200+10+10", false}, {"200x79+10+10", false}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string title = "edge " + std::to_string(i);
    clients.push_back(startClient(
        {"xlogo", "-bw", "0", "-geometry", cases[i].geometry, "-title", title}, title));
  }
  const RunResult result = runMirlet({"windows"});
  ASSERT_EQ(result.status, 0);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].geometry);
    EXPECT_EQ(recordOf(result.out, clients[i].id).empty(), !cases[i].listed) << result.out;
  }
}

TEST(E2EScreenWindows, EmptyScreenAndNoServer) {
  PrivateX empty({"-screen", "0", "640x480x24"});
  const RunResult none = runMirlet({"windows"}, empty.env());
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "[]\n");
  TempDir dir;
  for (const EnvChanges& env : {EnvChanges{{"DISPLAY", ":999"}}, EnvChanges{{"DISPLAY", std::nullopt}}}) {
    for (const auto& args : {std::vector<std::string>{"windows"},
                             std::vector<std::string>{"shot", "1", dir / "x.png"}}) {
      const RunResult result = runMirlet(args, env);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, "no_shareable_content\n");
    }
  }
}

TEST(E2EScreenWindows, UnderAWindowManagerIdsAreClientsAndFramesIncludeDecoration) {
  PrivateX x({"-screen", "0", "1280x1024x24"});
  // The window comes first: openbox takes over the windows it finds when it starts, while one
  // mapped during its start-up can slip past it.
  XClient logo = startClient(
      {"xlogo", "-bw", "0", "-geometry", "300x200+200+150", "-title", "managed"}, "managed",
      x.env());
  Process wm = Process::start({"openbox", "--sm-disable"}, x.env());
  ASSERT_TRUE(eventually([&] {
    return run({"xprop", "-id", logo.id, "WM_STATE"}, x.env()).out.find("Normal") !=
           std::string::npos;
  }));
  // The client's own place on screen, inside the frame.
  const std::string info = run({"xwininfo", "-id", logo.id}, x.env()).out;
  const auto number = [&](const std::string& label) {
    return std::stod(info.substr(info.find(label) + label.size()));
  };
  const double clientY = number("Absolute upper-left Y:");

  ASSERT_TRUE(eventually([&] { return !recordOf(runMirlet({"windows"}, x.env()).out, logo.id).empty(); }));
  const RunResult result = runMirlet({"windows"}, x.env());
  const std::string record = recordOf(result.out, logo.id);
  const auto field = [&](const std::string& name) {
    return std::stod(record.substr(record.find("\"" + name + "\":") + name.size() + 3));
  };
  EXPECT_NE(record.find("\"app\":\"XLogo\",\"title\":\"managed\""), std::string::npos) << record;
  EXPECT_GE(field("w"), 300);
  EXPECT_GT(field("h"), 200);  // the title bar
  EXPECT_LT(field("y"), clientY);

  TempDir dir;
  const RunResult shot = runMirlet({"shot", logo.id, dir / "m.png"}, x.env());
  EXPECT_EQ(shot.err, "");
  EXPECT_EQ(shot.out, "{\"ok\":true,\"mode\":\"window\",\"path\":\"" + dir / "m.png" + "\"}\n");
  const auto png = decodePng(dir / "m.png");
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 2 * static_cast<std::uint32_t>(field("w")));
  EXPECT_EQ(png->height, 2 * static_cast<std::uint32_t>(field("h")));
}

}  // namespace
}  // namespace mirlet::testing
