#include "mirlet/cli/window_id.hpp"

namespace mirlet {

std::optional<std::uint32_t> parseWindowID(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::uint64_t kMax = UINT32_MAX;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    value *= 10;
    if (value > kMax) return std::nullopt;
    if (negative) {
      if (digit > value) return std::nullopt;
      value -= digit;
    } else {
      value += digit;
      if (value > kMax) return std::nullopt;
    }
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace mirlet
