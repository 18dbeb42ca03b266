#pragma once

#include <memory>

#include "mirlet/platform/file_manager.hpp"

namespace mirlet::posix {

std::unique_ptr<FileManager> makeFileManager();

}  // namespace mirlet::posix
