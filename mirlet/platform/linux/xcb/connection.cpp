#include "mirlet/platform/linux/xcb/connection.hpp"

#include <cstdlib>
#include <string>
#include <utility>

namespace mirlet::xcb {

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
    if (connection_ != nullptr) xcb_disconnect(connection_);
    connection_ = std::exchange(other.connection_, nullptr);
    screen_ = std::exchange(other.screen_, nullptr);
  }
  return *this;
}

Connection::~Connection() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

}  // namespace mirlet::xcb
