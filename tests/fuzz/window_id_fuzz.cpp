// Compares the window identifier parser with a plain reading of its rule on arbitrary text.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mirlet/cli/window_id.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = mirlet::parseWindowID(text);

  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  bool wellFormed = !digits.empty();
  for (char c : digits) wellFormed = wellFormed && c >= '0' && c <= '9';
  std::string_view significant = digits;
  while (significant.size() > 1 && significant[0] == '0') significant.remove_prefix(1);
  const bool zero = significant == "0";
  bool fits = significant.size() < 10 ||
              (significant.size() == 10 && significant <= std::string_view("4294967295"));
  if (negative) fits = zero;

  const bool accepted = wellFormed && fits;
  if (accepted != parsed.has_value()) std::abort();
  if (accepted) {
    std::uint64_t value = 0;
    for (char c : significant) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value != *parsed) std::abort();
  }
  return 0;
}
