#pragma once

#include <cstdint>

namespace mirlet {

// 'dev#' as the number 0x64657623: the first character is the most significant byte.
constexpr std::uint32_t fourCharCode(const char (&text)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(text[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(text[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(text[2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(text[3])};
}

}  // namespace mirlet
