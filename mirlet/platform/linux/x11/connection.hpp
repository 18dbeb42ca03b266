#pragma once
// One connection to the X server named by DISPLAY, used by one thread at a time, and the way its
// protocol errors come back as values instead of through Xlib's default handlers, which end the
// process.

#include <X11/Xlib.h>

#include <memory>
#include <string>

#include "mirlet/platform/result.hpp"

namespace mirlet::x11 {

class Connection {
 public:
  // Opens the display named by the environment; an error when there is none or it refuses.
  static Result<Connection> open();

  Connection(Connection&&) noexcept;
  Connection& operator=(Connection&&) noexcept;
  ~Connection();

  ::Display* get() const { return display_; }
  ::Window root() const { return DefaultRootWindow(display_); }
  // False once the connection to the server broke; every later request then fails.
  bool alive() const;
  // Waits until the server has handled every request sent so far; false when the connection broke.
  bool sync() const;

  struct State;

 private:
  Connection(::Display* display, std::unique_ptr<State> state);
  ::Display* display_ = nullptr;
  std::unique_ptr<State> state_;
};

// Catches the protocol errors of the requests made on this thread while it lives. Errors are
// reported asynchronously, so `failed` syncs first.
class ErrorTrap {
 public:
  explicit ErrorTrap(const Connection& connection);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Syncs, then tells whether any request since the trap was set (or last cleared) failed.
  bool failed();
  // The first error caught, as text ("BadWindow (request 3)"); empty when none.
  std::string description() const;
  void clear();

 private:
  friend int handleError(::Display*, XErrorEvent*);
  const Connection& connection_;
  ErrorTrap* outer_;
  unsigned char errorCode_ = 0;
  unsigned char requestCode_ = 0;
  bool lost_ = false;
};

}  // namespace mirlet::x11
