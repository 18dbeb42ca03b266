#include "mirlet/platform/linux/sway/sway_ipc.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>


namespace mirlet::sway {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeader = sizeof kMagic + 8;
// A tree of hundreds of windows is a few hundred kilobytes; anything past this is not sway.
constexpr std::uint32_t kLargestAnswer = 64u << 20;

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Result<SwayIpc> SwayIpc::connect() {
  const char* path = std::getenv("SWAYSOCK");
  if (path == nullptr || *path == '\0') return failure("SWAYSOCK is not set");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return failure("SWAYSOCK is too long");
  std::strcpy(address.sun_path, path);
  SwayIpc ipc(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (ipc.fd_ < 0) return failure(std::string("socket: ") + std::strerror(errno));
  // A local socket connects at once or not at all: nothing to wait for here.
  if (::connect(ipc.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return failure(std::string("cannot connect to sway at SWAYSOCK: ") + std::strerror(errno));
  return ipc;
}

SwayIpc::SwayIpc(SwayIpc&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

SwayIpc::~SwayIpc() {
  if (fd_ >= 0) ::close(fd_);
}

pid_t SwayIpc::peer() const {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return -1;
  return credentials.pid;
}

Result<void> SwayIpc::send(std::initializer_list<std::uint32_t> types) {
  std::vector<char> messages(types.size() * kHeader);
  char* message = messages.data();
  for (const std::uint32_t type : types) {
    std::memcpy(message, kMagic, sizeof kMagic);
    std::memcpy(message + sizeof kMagic + 4, &type, 4);  // an empty payload
    message += kHeader;
  }
  // An empty socket takes a few dozen bytes at once.
  if (::send(fd_, messages.data(), messages.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(messages.size()))
    return failure(std::string("cannot ask sway: ") + std::strerror(errno));
  return {};
}

Result<void> SwayIpc::readExactly(char* into, std::size_t size, std::int64_t deadlineMs) {
  while (size > 0) {
    const ssize_t got = ::recv(fd_, into, size, 0);
    if (got > 0) {
      into += got;
      size -= static_cast<std::size_t>(got);
      continue;
    }
    if (got == 0) return failure("sway closed its IPC connection");
    if (errno == EINTR) continue;
    if (errno != EAGAIN)
      return failure(std::string("reading sway's answer: ") + std::strerror(errno));
    const std::int64_t left = deadlineMs - nowMs();
    pollfd socket{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&socket, 1, static_cast<int>(left)) == 0)
      return failure("sway did not answer in time");
  }
  return {};
}

Result<std::string> SwayIpc::receive(std::uint32_t type) {
  const std::int64_t deadline = nowMs() + kAnswerTime.count();
  for (;;) {
    char header[kHeader];
    if (auto read = readExactly(header, sizeof header, deadline); !read)
      return failure(read.error());
    std::uint32_t length = 0, kind = 0;
    std::memcpy(&length, header + sizeof kMagic, 4);
    std::memcpy(&kind, header + sizeof kMagic + 4, 4);
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || length > kLargestAnswer)
      return failure("SWAYSOCK does not speak sway's IPC");
    std::string payload(length, '\0');
    if (auto read = readExactly(payload.data(), length, deadline); !read)
      return failure(read.error());
    if (kind == type) return payload;
    // An event (high bit set) for a subscription is not ours to read; skip anything else too.
  }
}

}  // namespace mirlet::sway
