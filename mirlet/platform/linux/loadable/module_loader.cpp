#include "mirlet/platform/linux/loadable/module_loader.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

namespace mirlet::loadable {
namespace {

std::string executableFolder() {
  std::vector<char> path(4096);
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return ".";
  const std::string text(path.data(), static_cast<std::size_t>(length));
  const auto slash = text.rfind('/');
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

}  // namespace

Result<const void*> loadModuleEntry(const std::string& file, const char* entry) {
  const std::string folder = executableFolder();
  std::string reasons;
  for (const std::string& candidate : {folder + "/" + file, folder + "/../lib/mirlet/" + file}) {
    // Lazy binding: the FFmpeg and PulseAudio stacks pull dozens of libraries whose functions
    // this process mostly never calls; binding them all up front costs milliseconds and
    // megabytes of touched symbol tables. Libraries built with BIND_NOW still bind at once.
    void* handle = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
      if (!reasons.empty()) reasons += "; ";
      reasons += ::dlerror();
      continue;
    }
    void* address = ::dlsym(handle, entry);
    if (address == nullptr) return failure("module " + file + ": " + ::dlerror());
    return address;
  }
  return failure("cannot load module " + file + ": " + reasons);
}

}  // namespace mirlet::loadable
