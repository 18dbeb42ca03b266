#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace mirlet {

// A window identifier as typed: an optional single "+" or "-", then one or more ASCII digits and
// nothing else. Values outside 0...4294967295 are rejected, so "-" takes only zeros.
std::optional<std::uint32_t> parseWindowID(std::string_view text);

}  // namespace mirlet
