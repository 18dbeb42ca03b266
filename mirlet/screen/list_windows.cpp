#include "mirlet/screen/list_windows.hpp"

namespace mirlet {
void listWindows(Platform&, Output& out) { out.fail("no_shareable_content"); }
}  // namespace mirlet
