#pragma once

#include <string>

namespace mirlet {

class FileManager {
 public:
  virtual ~FileManager() = default;
  virtual bool isDirectory(const std::string& path) = 0;
  // Removes the file (not a folder) at `path`; whether anything was there is of no interest.
  virtual void removeItem(const std::string& path) = 0;
};

}  // namespace mirlet
