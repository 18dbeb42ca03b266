#pragma once
// How every failure travels: a value, or the reason it could not be had, as plain text that goes
// on to the caller unchanged.

#include <expected>
#include <string>
#include <utility>

namespace mirlet {

template <class T>
using Result = std::expected<T, std::string>;

inline std::unexpected<std::string> failure(std::string reason) {
  return std::unexpected(std::move(reason));
}

}  // namespace mirlet
