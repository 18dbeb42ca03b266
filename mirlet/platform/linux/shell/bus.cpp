#include "mirlet/platform/linux/shell/bus.hpp"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace mirlet::shell {
namespace {

std::int64_t microsecondsUntil(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
}

// sd-bus tells its own next timeout in CLOCK_MONOTONIC microseconds, the clock behind
// steady_clock on Linux.
std::uint64_t monotonicMicroseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::uint64_t(now.tv_sec) * 1'000'000 + std::uint64_t(now.tv_nsec) / 1000;
}

}  // namespace

Result<void> check(int result, const std::string& what) {
  if (result >= 0) return {};
  return failure(what + ": " + std::strerror(-result));
}

Message::Message(Message&& other) noexcept : message_(std::exchange(other.message_, nullptr)) {}

Message& Message::operator=(Message&& other) noexcept {
  std::swap(message_, other.message_);
  return *this;
}

Message::~Message() { sd_bus_message_unref(message_); }

Call::~Call() { sd_bus_slot_unref(slot_); }

int Call::answer(sd_bus_message* message, void* call, sd_bus_error*) {
  auto* self = static_cast<Call*>(call);
  self->answered_ = true;
  if (sd_bus_message_is_method_error(message, nullptr)) {
    const sd_bus_error* error = sd_bus_message_get_error(message);
    self->error_ = error->name != nullptr ? error->name : "an unnamed error";
    self->text_ = error->message != nullptr ? error->message : "";
  } else {
    self->reply_ = Message(sd_bus_message_ref(message));
  }
  return 1;
}

Result<sd_bus_message*> Call::reply() const {
  if (!answered_) return failure("no answer yet");
  if (!error_.empty()) return failure(text_.empty() ? error_ : error_ + ": " + text_);
  return reply_.get();
}

Result<Bus> Bus::connectSession() {
  sd_bus* bus = nullptr;
  if (auto opened = check(sd_bus_open_user(&bus), "cannot connect to the session bus"); !opened)
    return failure(opened.error());
  return Bus(bus);
}

Bus::Bus(Bus&& other) noexcept : bus_(std::exchange(other.bus_, nullptr)) {}

// Closed without flushing: sd-bus's flush waits for the bus's greeting with no bound of
// mirlet's, and every call that matters has had its answer by now.
Bus::~Bus() { sd_bus_close_unref(bus_); }

Result<Message> Bus::method(const char* destination, const char* path, const char* interface,
                            const char* member) const {
  sd_bus_message* message = nullptr;
  if (auto made = check(sd_bus_message_new_method_call(bus_, &message, destination, path,
                                                       interface, member),
                        std::string("a call of ") + member);
      !made)
    return failure(made.error());
  return Message(message);
}

Result<void> Bus::send(Message& message, Call& call, Clock::time_point deadline) {
  const std::int64_t left = std::max<std::int64_t>(microsecondsUntil(deadline), 1);
  return check(sd_bus_call_async(bus_, &call.slot_, message.get(), &Call::answer, &call,
                                 std::uint64_t(left)),
               "cannot send a call on the session bus");
}

Result<void> Bus::waitFor(const std::function<bool()>& done, Clock::time_point deadline,
                          const std::string& what, Drain* drain) {
  for (;;) {
    for (;;) {
      const int processed = sd_bus_process(bus_, nullptr);
      if (processed < 0)
        return failure("the session bus went away while waiting for " + what + ": " +
                       std::strerror(-processed));
      if (processed == 0) break;
    }
    if (done()) return {};
    const std::int64_t left = microsecondsUntil(deadline);
    if (left <= 0) return failure("no answer in time from the session bus: " + what);
    std::int64_t wait = (left + 999) / 1000;
    std::uint64_t busTimeout = 0;
    if (sd_bus_get_timeout(bus_, &busTimeout) >= 0 && busTimeout != UINT64_MAX) {
      const std::uint64_t now = monotonicMicroseconds();
      wait = std::min<std::int64_t>(wait, busTimeout > now ? (busTimeout - now + 999) / 1000 : 0);
    }
    const int events = sd_bus_get_events(bus_);
    if (events < 0)
      return failure("the session bus went away while waiting for " + what + ": " +
                     std::strerror(-events));
    pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(events), 0},
                     {drain != nullptr ? drain->fd : -1, POLLIN, 0}};
    const nfds_t count = drain != nullptr && !drain->ended ? 2 : 1;
    if (::poll(fds, count, static_cast<int>(wait)) < 0 && errno != EINTR)
      return failure(std::string("poll: ") + std::strerror(errno));
    if (count == 2 && fds[1].revents != 0) {
      char buffer[1 << 16];
      for (;;) {
        const ssize_t got = ::read(drain->fd, buffer, sizeof buffer);
        if (got > 0) {
          drain->bytes.append(buffer, static_cast<std::size_t>(got));
          continue;
        }
        if (got == 0) drain->ended = true;
        else if (errno == EINTR) continue;
        else if (errno != EAGAIN)
          return failure("reading " + what + ": " + std::strerror(errno));
        break;
      }
    }
  }
}

Result<void> Bus::call(Message& message, Call& call, Clock::time_point deadline,
                       const std::string& what) {
  if (auto sent = send(message, call, deadline); !sent) return sent;
  return waitFor([&] { return call.answered(); }, deadline, what);
}

Result<std::string> Bus::uniqueName(Clock::time_point deadline) {
  if (auto greeted = waitFor([&] { return sd_bus_is_ready(bus_) > 0; }, deadline,
                             "the session bus's greeting");
      !greeted)
    return failure(greeted.error());
  const char* name = nullptr;
  if (auto got = check(sd_bus_get_unique_name(bus_, &name), "the connection's name"); !got)
    return failure(got.error());
  return std::string(name);
}

Result<Dictionary> readDictionary(sd_bus_message* message) {
  const std::string what = "a dictionary in a reply";
  Dictionary dictionary;
  if (auto entered = check(sd_bus_message_enter_container(message, 'a', "{sv}"), what); !entered)
    return failure(entered.error());
  for (;;) {
    const int entry = sd_bus_message_enter_container(message, 'e', "sv");
    if (auto ok = check(entry, what); !ok) return failure(ok.error());
    if (entry == 0) break;
    const char* key = nullptr;
    const char* contents = nullptr;
    char type = 0;
    if (auto ok = check(sd_bus_message_read_basic(message, 's', &key), what); !ok)
      return failure(ok.error());
    if (auto ok = check(sd_bus_message_peek_type(message, &type, &contents), what); !ok)
      return failure(ok.error());
    if (auto ok = check(sd_bus_message_enter_container(message, 'v', contents), what); !ok)
      return failure(ok.error());
    const std::string kind = contents != nullptr ? contents : "";
    union {
      std::uint8_t y;
      int b;
      std::int16_t n;
      std::uint16_t q;
      std::int32_t i;
      std::uint32_t u;
      std::int64_t x;
      std::uint64_t t;
      double d;
      const char* s;
    } value{};
    int read = 0;
    if (kind.size() == 1 && std::strchr("ybnqiuxtds", kind[0]) != nullptr)
      read = sd_bus_message_read_basic(message, kind[0], &value);
    else
      read = sd_bus_message_skip(message, contents);
    if (auto ok = check(read, what); !ok) return failure(ok.error());
    switch (kind.size() == 1 ? kind[0] : '\0') {
      case 'y': dictionary.numbers[key] = value.y; break;
      case 'b': dictionary.numbers[key] = value.b; break;
      case 'n': dictionary.numbers[key] = value.n; break;
      case 'q': dictionary.numbers[key] = value.q; break;
      case 'i': dictionary.numbers[key] = value.i; break;
      case 'u': dictionary.numbers[key] = value.u; break;
      case 'x': dictionary.numbers[key] = double(value.x); break;
      case 't': dictionary.numbers[key] = double(value.t); break;
      case 'd': dictionary.numbers[key] = value.d; break;
      case 's': dictionary.strings[key] = value.s; break;
      default: break;
    }
    if (auto ok = check(sd_bus_message_exit_container(message), what); !ok)
      return failure(ok.error());
    if (auto ok = check(sd_bus_message_exit_container(message), what); !ok)
      return failure(ok.error());
  }
  if (auto ok = check(sd_bus_message_exit_container(message), what); !ok)
    return failure(ok.error());
  return dictionary;
}

}  // namespace mirlet::shell
