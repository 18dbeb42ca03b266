#pragma once
// How the platform reports a failure: a value, or the platform's own description of what went
// wrong. `Answer` carries the description as plain text, as the commands pass it on.

#include <expected>
#include <string>
#include <utility>

namespace mirlet {

struct Error {
  std::string description;
};

template <class T>
using Result = std::expected<T, Error>;

template <class T>
using Answer = std::expected<T, std::string>;

inline std::unexpected<Error> failure(std::string description) {
  return std::unexpected(Error{std::move(description)});
}

}  // namespace mirlet
