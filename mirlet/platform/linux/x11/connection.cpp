#include "mirlet/platform/linux/x11/connection.hpp"

#include <array>
#include <string_view>
#include <utility>

namespace mirlet::x11 {

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
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
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

bool Connection::sync() const {
  collect(xcb_get_input_focus_reply, connection_, xcb_get_input_focus(connection_));
  return alive();
}

Result<void> Connection::check(xcb_void_cookie_t cookie) const {
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
