#include "mirlet/cli/permission.hpp"

namespace mirlet {

bool ensureScreenAccess(ScreenAccess& access) {
  if (access.preflight()) return true;
  return access.request();
}

}  // namespace mirlet
