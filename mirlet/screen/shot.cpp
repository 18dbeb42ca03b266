#include "mirlet/screen/shot.hpp"

namespace mirlet {
void shot(Platform&, Output& out, std::uint32_t, const std::string&) {
  out.fail("no_shareable_content");
}
}  // namespace mirlet
