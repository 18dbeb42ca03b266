#include "mirlet/platform/linux/posix/file_manager.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace mirlet::posix {
namespace {

class PosixFileManager final : public FileManager {
 public:
  bool isDirectory(const std::string& path) override {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
  }
  void removeItem(const std::string& path) override {
    // Missing, refused or removed: the writer that follows finds out what it can do at the path.
    (void)::unlink(path.c_str());
  }
};

}  // namespace

std::unique_ptr<FileManager> makeFileManager() { return std::make_unique<PosixFileManager>(); }

}  // namespace mirlet::posix
