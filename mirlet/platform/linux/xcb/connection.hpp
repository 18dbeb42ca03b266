#pragma once
// A plain XCB connection to the X server named by DISPLAY, for the questions that need no
// pictures. Without Xlib there is no process-wide error handler: every error comes back with the
// reply it belongs to, and a broken connection only makes the later requests fail.

#include <xcb/xcb.h>

#include "mirlet/platform/result.hpp"

namespace mirlet::xcb {

class Connection {
 public:
  // Opens the display named by the environment; an error when there is none or it refuses.
  static Result<Connection> open();

  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  ~Connection();

  xcb_connection_t* get() const { return connection_; }
  const xcb_screen_t& screen() const { return *screen_; }
  xcb_window_t root() const { return screen_->root; }
  // False once the connection to the server broke.
  bool alive() const { return xcb_connection_has_error(connection_) == 0; }

 private:
  Connection(xcb_connection_t* connection, const xcb_screen_t* screen)
      : connection_(connection), screen_(screen) {}
  xcb_connection_t* connection_ = nullptr;
  const xcb_screen_t* screen_ = nullptr;
};

}  // namespace mirlet::xcb
