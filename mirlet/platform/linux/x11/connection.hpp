#pragma once
// One XCB connection to the X server named by DISPLAY, used by one thread at a time. There is no
// process-wide error handler: every error comes back with the reply or the check of the request
// it belongs to, and a broken connection makes every later request fail, never ends the process.

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "mirlet/platform/result.hpp"

namespace mirlet::x11 {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
// A reply or an error as XCB hands it out, freed with the holder.
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// An X error as text: "BadWindow (request 3)".
std::string describe(const xcb_generic_error_t& error);

// How long an answer of the X server may take, its greeting included. libxcb itself waits
// without end, so a server that stopped (in a debugger, a frozen session) would hold the command
// for good; a healthy one answers within a millisecond or two.
inline constexpr std::chrono::milliseconds kAnswerTime{2000};

// Waits, within kAnswerTime, for the reply or the error of request `sequence`, which the caller
// then owns. False when none came in time, or the connection broke: from a time-out on, the
// connection counts as broken and no later wait waits.
bool awaitReply(xcb_connection_t* c, unsigned int sequence, void** reply,
                xcb_generic_error_t** error);

// The reply to `cookie`; nothing when the request failed, no answer came in time, or the
// connection broke. `fetch`, the request's reply function, names the reply's type: the reply is
// taken as it comes instead, since libxcb's own would wait without end.
template <class T, class Cookie>
Reply<T> collect(T* (*fetch)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                 xcb_connection_t* c, Cookie cookie) {
  (void)fetch;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  awaitReply(c, cookie.sequence, &reply, &error);
  std::free(error);
  return Reply<T>(static_cast<T*>(reply));
}

// The reply to `cookie`, or why there is none.
template <class T, class Cookie>
Result<Reply<T>> answer(T* (*fetch)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                        xcb_connection_t* c, Cookie cookie) {
  (void)fetch;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  const bool came = awaitReply(c, cookie.sequence, &reply, &error);
  Reply<T> taken(static_cast<T*>(reply));
  const Reply<xcb_generic_error_t> refusal(error);
  if (taken) return taken;
  if (refusal) return failure(describe(*refusal));
  if (!came && xcb_connection_has_error(c) == 0) return failure("the X server did not answer in time");
  return failure("the connection to the X server broke");
}

class Connection {
 public:
  // Opens the display named by the environment; an error when there is none or it refuses.
  static Result<Connection> open();

  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  // Sends what is still queued (the undoing of a redirection, say), then closes.
  ~Connection();

  xcb_connection_t* get() const { return connection_; }
  const xcb_screen_t& screen() const { return *screen_; }
  xcb_window_t root() const { return screen_->root; }
  // False once the connection to the server broke, or an answer did not come in time.
  bool alive() const;
  // Waits until the server has handled every request sent so far; false when the connection
  // broke.
  bool sync() const;
  // Whether a request sent through its `_checked` function was carried out.
  Result<void> check(xcb_void_cookie_t cookie) const;
  // The visual `id` of this screen; nullptr when it has none by that id.
  const xcb_visualtype_t* visual(xcb_visualid_t id) const;

 private:
  Connection(xcb_connection_t* connection, const xcb_screen_t* screen)
      : connection_(connection), screen_(screen) {}
  void close();
  xcb_connection_t* connection_ = nullptr;
  const xcb_screen_t* screen_ = nullptr;
};

}  // namespace mirlet::x11
