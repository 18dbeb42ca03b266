#pragma once
// The session bus through sd-bus (libsystemd): C-shaped, synchronous where mirlet wants it, and
// it passes file descriptors. Calls are sent without waiting, several at once where they do not
// depend on each other, and every wait for their answers ends at a deadline: sd-bus's own
// blocking calls first wait for the bus's greeting without any bound mirlet chooses, so they are
// not used.

#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mirlet/platform/result.hpp"

namespace mirlet::shell {

using Clock = std::chrono::steady_clock;

// How long the bus and a desktop may take to answer one question: they answer in milliseconds;
// one that is stopped or hung must not hang mirlet.
constexpr std::chrono::milliseconds kAnswerTime{2000};

// A message, owned.
class Message {
 public:
  Message() = default;
  explicit Message(sd_bus_message* adopted) : message_(adopted) {}
  Message(Message&& other) noexcept;
  Message& operator=(Message&& other) noexcept;
  ~Message();
  sd_bus_message* get() const { return message_; }

 private:
  sd_bus_message* message_ = nullptr;
};

// One method call in flight and, once it came, its answer: the reply, or the error's name and
// text. It stays where it is while the call runs (the bus holds its address).
class Call {
 public:
  Call() = default;
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call();

  bool answered() const { return answered_; }
  // The reply; the error as "<name>: <text>" otherwise.
  Result<sd_bus_message*> reply() const;
  // The D-Bus error's name ("org.freedesktop.DBus.Error.ServiceUnknown"); empty after a reply.
  const std::string& error() const { return error_; }

 private:
  friend class Bus;
  static int answer(sd_bus_message* message, void* call, sd_bus_error*);
  sd_bus_slot* slot_ = nullptr;
  bool answered_ = false;
  Message reply_;
  std::string error_, text_;
};

// Bytes read from a descriptor (the read end of a pipe) until its writer closes it.
struct Drain {
  int fd = -1;
  std::string bytes;
  bool ended = false;
};

class Bus {
 public:
  // The session bus (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus), connected without
  // waiting for its answer.
  static Result<Bus> connectSession();
  Bus(Bus&& other) noexcept;
  Bus& operator=(Bus&&) = delete;
  ~Bus();
  sd_bus* get() const { return bus_; }

  // A method call, ready for its arguments.
  Result<Message> method(const char* destination, const char* path, const char* interface,
                         const char* member) const;
  // Sends `message`; `call` gets its answer while `waitFor` runs.
  Result<void> send(Message& message, Call& call, Clock::time_point deadline);
  // Serves the connection (answers, incoming calls) until `done` holds, reading `drain` to its
  // end meanwhile when one is given; fails when `deadline` passes first or the bus goes.
  Result<void> waitFor(const std::function<bool()>& done, Clock::time_point deadline,
                       const std::string& what, Drain* drain = nullptr);
  // Sends and waits for the answer.
  Result<void> call(Message& message, Call& call, Clock::time_point deadline,
                    const std::string& what);
  // This connection's name on the bus (":1.42"), once the bus has greeted it.
  Result<std::string> uniqueName(Clock::time_point deadline);

 private:
  explicit Bus(sd_bus* bus) : bus_(bus) {}
  sd_bus* bus_ = nullptr;
};

// A negative errno of sd-bus as a failure that says what was being done.
Result<void> check(int result, const std::string& what);

// The entries of an a{sv} at the message's position: numbers (of any integer type, doubles and
// booleans) and strings; values of other types are skipped.
struct Dictionary {
  std::map<std::string, double> numbers;
  std::map<std::string, std::string> strings;
};
Result<Dictionary> readDictionary(sd_bus_message* message);

}  // namespace mirlet::shell
