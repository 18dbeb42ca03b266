#pragma once
// sway's IPC (the i3-compatible protocol on the socket named by SWAYSOCK): one question, its
// answer within a deadline.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "mirlet/platform/result.hpp"

namespace mirlet::wayland {

class SwayIpc {
 public:
  static constexpr std::uint32_t kGetTree = 4;

  // Connects to SWAYSOCK; fails when it is unset or nobody listens there.
  static Result<SwayIpc> connect();
  SwayIpc(SwayIpc&& other) noexcept;
  ~SwayIpc();

  // Sends a message without waiting, so that its answer can be prepared while other work runs.
  Result<void> send(std::uint32_t type);
  // The payload of the next answer of `type`, within the compositor's answer time.
  Result<std::string> receive(std::uint32_t type);
  // The process behind the socket: the compositor, when it is the Wayland one too.
  pid_t peer() const;

 private:
  explicit SwayIpc(int fd) : fd_(fd) {}
  Result<void> readExactly(char* into, std::size_t size, std::int64_t deadlineMs);
  int fd_ = -1;
};

}  // namespace mirlet::wayland
