#pragma once
// sway's IPC (the i3-compatible protocol on the socket named by SWAYSOCK): one question, its
// answer within a deadline.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "mirlet/platform/result.hpp"

namespace mirlet::sway {

// How long sway may take to answer one question: it answers in well under a millisecond when it
// is there; one that is stopped or hung must not hang mirlet.
inline constexpr std::chrono::milliseconds kAnswerTime{2000};

class SwayIpc {
 public:
  static constexpr std::uint32_t kGetOutputs = 3;
  static constexpr std::uint32_t kGetTree = 4;

  // Connects to SWAYSOCK; fails when it is unset or nobody listens there.
  static Result<SwayIpc> connect();
  // A connection to SWAYSOCK made elsewhere (`fd`), owned from now on.
  static SwayIpc adopt(int fd) { return SwayIpc(fd); }
  SwayIpc(SwayIpc&& other) noexcept;
  ~SwayIpc();

  // Sends messages without waiting, in one write, so that sway prepares their answers while
  // other work runs; it answers them in this order.
  Result<void> send(std::initializer_list<std::uint32_t> types);
  // The payload of the next answer of `type`, within the compositor's answer time.
  Result<std::string> receive(std::uint32_t type);
  // The process behind the socket: the compositor, when it is the Wayland one too.
  pid_t peer() const;

 private:
  explicit SwayIpc(int fd) : fd_(fd) {}
  Result<void> readExactly(char* into, std::size_t size, std::int64_t deadlineMs);
  int fd_ = -1;
};

}  // namespace mirlet::sway
