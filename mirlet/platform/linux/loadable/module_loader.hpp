#pragma once

#include <string>

#include "mirlet/platform/result.hpp"

namespace mirlet::loadable {

// Loads `file` (beside the executable in a build folder, in lib/mirlet beside bin once installed)
// and gives the address of its `entry`. The module stays loaded for the rest of the process.
Result<const void*> loadModuleEntry(const std::string& file, const char* entry);

// The entry table (an `Entry`, the module's type itself by default) of the module that `Module`
// describes (its kFile and kEntry), loaded at the first call; later calls give the same outcome.
template <class Module, class Entry = Module>
const Result<const Entry*>& loadedModule() {
  static const Result<const Entry*> module = [] () -> Result<const Entry*> {
    auto address = loadModuleEntry(Module::kFile, Module::kEntry);
    if (!address) return std::unexpected(address.error());
    using Accessor = const Entry* (*)();
    return reinterpret_cast<Accessor>(const_cast<void*>(*address))();
  }();
  return module;
}

}  // namespace mirlet::loadable
