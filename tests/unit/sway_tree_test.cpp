// sway's layout tree read into windows: which show, in which order, with which frame; and the
// application names of desktop entries. The end-to-end rows on sway see floating and plain tiled
// windows; these see the layouts and the entries that a headless desktop does not easily make.

#include <gtest/gtest.h>

#include <string>

#include "mirlet/platform/linux/sway/desktop_entry.hpp"
#include "mirlet/platform/linux/sway/sway_tree.hpp"

namespace mirlet::testing {
namespace {

// A view: its id, whether it shows, its rectangle and its title bar's height.
std::string view(int id, bool visible, const std::string& rect, int bar = 20) {
  return R"({"id":)" + std::to_string(id) + R"(,"shell":"xdg_shell","app_id":"app)" +
         std::to_string(id) + R"(","name":"w)" + std::to_string(id) + R"(","visible":)" +
         (visible ? "true" : "false") + R"(,"rect":)" + rect + R"(,"deco_rect":{"height":)" +
         std::to_string(bar) + "}}";
}

TEST(SwayTree, VisibleWindowsFrontToBackWithTheirTitleBars) {
  // Output A: a stacked container of two (the second focused, the first behind it) beside a
  // tiled window that was focused last; two floating windows, 31 drawn over 30. Output B shows a
  // window of its own; the scratchpad's output is left out whatever its windows say.
  const std::string tree = R"({"type":"root","focus":[3,2,9],"nodes":[
    {"id":9,"name":"__i3","nodes":[{"id":90,"nodes":[],"floating_nodes":[)" +
                           view(91, true, R"({"x":0,"y":0,"width":500,"height":500})") + R"(]}]},
    {"id":2,"name":"A","focus":[20],"nodes":[{"id":20,"type":"workspace","focus":[21,22,30,31],
      "floating_nodes":[)" +
                           view(30, true, R"({"x":50,"y":60,"width":200,"height":100})") + "," +
                           view(31, true, R"({"x":70,"y":80,"width":200,"height":100})") + R"(],
      "nodes":[{"id":22,"layout":"stacked","focus":[24,23],"nodes":[)" +
                           view(23, false, R"({"x":0,"y":40,"width":640,"height":680})") + "," +
                           view(24, true, R"({"x":0,"y":40,"width":640,"height":680})") + R"(]},)" +
                           view(21, true, R"({"x":640,"y":20,"width":640,"height":700})") + R"(]}]},
    {"id":3,"name":"B","nodes":[{"id":40,"nodes":[)" +
                           view(41, true, R"({"x":1280,"y":0,"width":800,"height":600})", 0) +
                           R"(]}]}]})";
  const auto windows = sway::visibleWindows(tree);
  ASSERT_TRUE(windows) << windows.error();
  std::string seen;
  for (const sway::TreeWindow& w : *windows)
    seen += std::to_string(w.id) + "@" + std::to_string(int(w.frame.x)) + "," +
            std::to_string(int(w.frame.y)) + "," + std::to_string(int(w.frame.width)) + "x" +
            std::to_string(int(w.frame.height)) + " ";
  // Floating topmost first; then by focus: output B (focused last), the tiled window, the
  // stacked one, whose two title rows stand above it.
  EXPECT_EQ(seen,
            "31@70,60,200x120 30@50,40,200x120 41@1280,0,800x600 21@640,0,640x720 24@0,0,640x720 ");
  EXPECT_EQ((*windows)[0].appId, "app31");
  EXPECT_EQ((*windows)[0].title, "w31");

  // GET_OUTPUTS answers a list: an object (an error's answer) is no outputs.
  for (const char* broken : {"", "[]", "{\"type\":\"root\"", "{\"type\":\"output\"}"}) {
    EXPECT_FALSE(sway::visibleWindows(broken)) << broken;
    EXPECT_EQ(sway::activeOutputs(broken).has_value(), std::string(broken) == "[]") << broken;
  }
}

TEST(DesktopEntry, NameInTheLanguageOfTheLocale) {
  const std::string entry =
      "[Desktop Entry]\nGenericName=Browser\nName=Web\nName[de]=Netz\nName[de_CH]=Netzli\n"
      "Name[sr@latin]=Mreza\n[Desktop Action new]\nName=New Window\n";
  const std::pair<const char*, const char*> cases[] = {
      {"", "Web"},
      {"C.UTF-8", "Web"},
      {"de_DE.UTF-8", "Netz"},
      {"de_CH.UTF-8", "Netzli"},
      {"sr_RS@latin", "Mreza"},
      {"fr_FR", "Web"},
  };
  for (const auto& [locale, name] : cases)
    EXPECT_EQ(sway::desktopEntryName(entry, locale).value_or("-"), name) << locale;
  EXPECT_EQ(sway::desktopEntryName("[Desktop Action x]\nName=Other\n", "").value_or("-"), "-");
}

}  // namespace
}  // namespace mirlet::testing
