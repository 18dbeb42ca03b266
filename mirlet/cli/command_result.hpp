#pragma once
// What a command gives back: its result line, or the reason it failed. `main` writes either and
// ends the process; notes for people are written through a NoteSink the moment they happen.

#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace mirlet {

using CommandResult = std::expected<std::string /* line */, std::string /* reason */>;

inline std::unexpected<std::string> refuse(std::string reason) {
  return std::unexpected(std::move(reason));
}

// Takes a note (with its own line feed) for standard error.
using NoteSink = std::function<void(std::string_view text)>;

}  // namespace mirlet
