// The installed layout: each loadable module loads from the build folder and from lib/mirlet of an
// installation, and the installed executable finds them there.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/screen_support.hpp"

namespace mirlet::testing {
namespace {

std::string buildFolder() { return std::filesystem::path(mirletBinary()).parent_path().string(); }

TEST(E2EInstall, EachModuleLoadsFromTheBuildFolderAndTheInstalledLayout) {
  TempDir prefix;
  const RunResult install =
      run({"cmake", "--install", buildFolder(), "--prefix", prefix.path()}, {}, 60s);
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  for (const std::string& folder : {buildFolder(), prefix / "lib/mirlet"})
    for (const std::string module :
         {"x11", "x11_pictures", "png", "pulse", "pulse_capture", "ffmpeg", "wayland", "shell"}) {
      std::string file = folder + "/mirlet-" + module + ".so";
      std::ranges::replace(file, '_', '-');
      void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
      ASSERT_NE(handle, nullptr) << ::dlerror();
      const auto entry = reinterpret_cast<const void* (*)()>(
          ::dlsym(handle, ("mirlet_" + module + "_entry").c_str()));
      ASSERT_NE(entry, nullptr) << file;
      EXPECT_NE(entry(), nullptr) << file;
    }

  // The installed executable finds them: the list, a picture, the devices.
  XClient logo = startClient({"xlogo", "-title", "installed"}, "installed");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"windows"},
                                               {"audioout"}, {"shot", logo.id, prefix / "s.png"}}) {
    std::vector<std::string> argv{prefix / "bin/mirlet"};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult actual = run(argv);
    EXPECT_EQ(std::tuple(actual.status, actual.out, actual.err),
              std::tuple(0, runMirlet(args).out, "")) << args[0];
  }
}

}  // namespace
}  // namespace mirlet::testing
