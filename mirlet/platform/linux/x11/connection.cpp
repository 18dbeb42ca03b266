#include "mirlet/platform/linux/x11/connection.hpp"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace mirlet::x11 {
namespace {

thread_local ErrorTrap* currentTrap = nullptr;

int handleIOError(::Display*) { return 0; }

}  // namespace

// Process-wide: Xlib has one handler for all connections. Errors on a thread without a trap are
// dropped; they belong to requests whose outcome nobody asked for.
int handleError(::Display*, XErrorEvent* event) {
  if (ErrorTrap* trap = currentTrap; trap != nullptr && trap->errorCode_ == 0) {
    trap->errorCode_ = event->error_code;
    trap->requestCode_ = event->request_code;
  }
  return 0;
}

struct Connection::State {
  std::atomic<bool> lost{false};
};

namespace {

// Called instead of exit() when the server goes away; returning leaves the connection marked
// dead, so every later call fails fast and the operation reports an error.
void markLost(::Display*, void* state) {
  static_cast<Connection::State*>(state)->lost = true;
}

}  // namespace

Result<Connection> Connection::open() {
  static std::once_flag handlers;
  std::call_once(handlers, [] {
    XInitThreads();
    XSetErrorHandler(handleError);
    XSetIOErrorHandler(handleIOError);
  });
  const char* name = std::getenv("DISPLAY");
  ::Display* display = XOpenDisplay(nullptr);
  if (display == nullptr)
    return failure(std::string("cannot open X display \"") + (name ? name : "") + "\"");
  auto state = std::make_unique<State>();
  XSetIOErrorExitHandler(display, markLost, state.get());
  return Connection(display, std::move(state));
}

Connection::Connection(::Display* display, std::unique_ptr<State> state)
    : display_(display), state_(std::move(state)) {}

Connection::Connection(Connection&& other) noexcept
    : display_(std::exchange(other.display_, nullptr)), state_(std::move(other.state_)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = std::exchange(other.display_, nullptr);
    state_ = std::move(other.state_);
  }
  return *this;
}

Connection::~Connection() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

bool Connection::alive() const { return !state_->lost; }

bool Connection::sync() const {
  if (!alive()) return false;
  XSync(display_, False);
  return alive();
}

ErrorTrap::ErrorTrap(const Connection& connection)
    : connection_(connection), outer_(currentTrap) {
  // Errors of earlier requests must not land in this trap.
  connection_.sync();
  currentTrap = this;
}

ErrorTrap::~ErrorTrap() {
  connection_.sync();
  currentTrap = outer_;
}

bool ErrorTrap::failed() {
  if (!connection_.sync()) lost_ = true;
  return lost_ || errorCode_ != 0;
}

std::string ErrorTrap::description() const {
  if (lost_) return "the connection to the X server broke";
  if (errorCode_ == 0) return "";
  char text[128] = {};
  XGetErrorText(connection_.get(), errorCode_, text, sizeof text);
  return std::string(text) + " (request " + std::to_string(requestCode_) + ")";
}

void ErrorTrap::clear() {
  connection_.sync();
  errorCode_ = 0;
  requestCode_ = 0;
}

}  // namespace mirlet::x11
