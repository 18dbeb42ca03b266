#pragma once
// COMPOUND_TEXT, the ISO 2022 encoding old X programs (Xt, Motif) still put into WM_NAME, as
// UTF-8. Its left half starts as ASCII and its right half as Latin-1; escape sequences switch
// either half to another ISO 8859 part, to GB 2312, JIS X 0208 or KS C 5601, or open a UTF-8
// segment. Text in a set this does not know comes out as U+FFFD, never dropped silently.

#include <string>
#include <string_view>

namespace mirlet::x11 {

std::string compoundTextToUtf8(std::string_view text);

}  // namespace mirlet::x11
