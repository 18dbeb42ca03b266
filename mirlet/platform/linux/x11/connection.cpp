#include "mirlet/platform/linux/x11/connection.hpp"

#include <poll.h>
#include <xcb/xcbext.h>

#include <array>
#include <cerrno>
#include <future>
#include <string_view>
#include <thread>
#include <utility>

namespace mirlet::x11 {
namespace {

using Clock = std::chrono::steady_clock;

// Set once an answer did not come in time. A command talks to one X server on one thread, and the
// whole conversation is over then.
bool gaveUp = false;

}  // namespace

bool awaitReply(xcb_connection_t* c, unsigned int sequence, void** reply,
                xcb_generic_error_t** error) {
  if (gaveUp || xcb_flush(c) <= 0) return false;
  const auto deadline = Clock::now() + kAnswerTime;
  for (;;) {
    if (xcb_poll_for_reply(c, sequence, reply, error) != 0) return true;
    if (xcb_connection_has_error(c) != 0) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      gaveUp = true;
      return false;
    }
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
  }
}

std::string describe(const xcb_generic_error_t& error) {
  static constexpr std::array<std::string_view, 17> kCoreErrors = {
      "BadRequest", "BadValue",  "BadWindow", "BadPixmap", "BadAtom",     "BadCursor",
      "BadFont",    "BadMatch",  "BadDrawable", "BadAccess", "BadAlloc",  "BadColor",
      "BadGC",      "BadIDChoice", "BadName", "BadLength", "BadImplementation"};
  const std::string request = " (request " + std::to_string(error.major_code) + ")";
  if (error.error_code >= 1 && error.error_code <= kCoreErrors.size())
    return std::string(kCoreErrors[error.error_code - 1]) + request;
  return "X error " + std::to_string(error.error_code) + request;
}

Result<Connection> Connection::open() {
  const char* name = std::getenv("DISPLAY");
  const std::string refusal = std::string("cannot open X display \"") + (name ? name : "") + "\"";
  // xcb_connect waits for the server's greeting without end and offers no way to bound it, so it
  // runs on a thread of its own. When the greeting does not come in time, the thread is left to
  // its wait; the command ends soon, and the process with it.
  struct Connected {
    xcb_connection_t* connection;
    int screenNumber;
  };
  std::promise<Connected> promise;
  auto greeting = promise.get_future();
  std::thread([promise = std::move(promise)]() mutable {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    promise.set_value({connection, screenNumber});
  }).detach();
  if (greeting.wait_for(kAnswerTime) != std::future_status::ready)
    return failure(refusal + ": the X server did not answer in time");
  const auto [connection, screenNumber] = greeting.get();
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);  // also frees the error connection xcb hands out
    return failure(refusal);
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem <= 0) {
    xcb_disconnect(connection);
    return failure(refusal + ": no such screen");
  }
  return Connection(connection, screens.data);
}

Connection::Connection(Connection&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      screen_(std::exchange(other.screen_, nullptr)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    close();
    connection_ = std::exchange(other.connection_, nullptr);
    screen_ = std::exchange(other.screen_, nullptr);
  }
  return *this;
}

Connection::~Connection() { close(); }

void Connection::close() {
  if (connection_ == nullptr) return;
  // xcb_disconnect drops what is still queued; the server would undo it all at the disconnect
  // anyway, but a request sent is a request done.
  xcb_flush(connection_);
  xcb_disconnect(connection_);
}

bool Connection::alive() const { return !gaveUp && xcb_connection_has_error(connection_) == 0; }

bool Connection::sync() const {
  collect(xcb_get_input_focus_reply, connection_, xcb_get_input_focus(connection_));
  return alive();
}

Result<void> Connection::check(xcb_void_cookie_t cookie) const {
  // Once a later request is answered, libxcb knows this one's outcome without waiting.
  if (!sync()) return failure("the X server did not answer in time");
  const Reply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
  if (error) return failure(describe(*error));
  if (!alive()) return failure("the connection to the X server broke");
  return {};
}

const xcb_visualtype_t* Connection::visual(xcb_visualid_t id) const {
  for (auto depth = xcb_screen_allowed_depths_iterator(screen_); depth.rem > 0;
       xcb_depth_next(&depth))
    for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem > 0;
         xcb_visualtype_next(&visual))
      if (visual.data->visual_id == id) return visual.data;
  return nullptr;
}

}  // namespace mirlet::x11
