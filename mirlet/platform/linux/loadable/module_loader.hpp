#pragma once

#include <string>

#include "mirlet/platform/async.hpp"

namespace mirlet::loadable {

// Loads `file` (beside the executable in a build folder, in lib/mirlet beside bin once installed)
// and gives the address of its `entry`. The module stays loaded for the rest of the process.
Result<const void*> loadModuleEntry(const std::string& file, const char* entry);

template <class Module>
Result<const Module*> loadModule(const std::string& file, const char* entry) {
  auto address = loadModuleEntry(file, entry);
  if (!address) return std::unexpected(address.error());
  using Accessor = const Module* (*)();
  return reinterpret_cast<Accessor>(const_cast<void*>(*address))();
}

}  // namespace mirlet::loadable
