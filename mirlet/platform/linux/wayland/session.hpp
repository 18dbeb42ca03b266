#pragma once
// A connection to the Wayland compositor named by WAYLAND_DISPLAY: its globals, its outputs with
// their places in the global space (xdg-output), and waits for its answers that never outlast a
// deadline.

#include <sys/types.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mirlet/platform/rect.hpp"
#include "mirlet/platform/result.hpp"

struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_screencopy_manager_v1;

namespace mirlet::wayland {

using Clock = std::chrono::steady_clock;

// How long the compositor may take to answer one question: a compositor that is there answers in
// well under a millisecond; one that is stopped or hung must not hang mirlet.
constexpr std::chrono::milliseconds kAnswerTime{2000};

struct Output {
  std::uint32_t name = 0;  // the global's number, which stays while the output does
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;
  std::string connector;   // "HDMI-A-1", from xdg-output
  Rect logical;            // points, global space
  std::int32_t scale = 1;  // wl_output's whole scale
  std::int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
  bool placed = false;  // xdg-output gave its logical place and size
};

class Session {
 public:
  // Connects and learns the globals and every output, within the answer time.
  static Result<std::unique_ptr<Session>> connect();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The outputs that have a place in the global space, in the order the compositor announced them.
  const std::vector<std::unique_ptr<Output>>& outputs() const { return outputs_; }
  // Whether the compositor announced a global of that interface ("ext_foreign_toplevel_list_v1").
  bool offers(const std::string& interface) const;
  zwlr_screencopy_manager_v1* screencopy() const { return screencopy_; }
  wl_shm* shm() const { return shm_; }
  // The compositor's process, as the kernel tells for the socket.
  pid_t peer() const;

  // Reads and dispatches events until `done` holds; fails when the deadline passes first or the
  // connection breaks.
  Result<void> dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline,
                             const std::string& what);
  // Waits until the compositor has handled every request sent so far.
  Result<void> roundtrip(const std::string& what);

 private:
  Session() = default;
  Result<void> broken(const std::string& what) const;
  static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version);
  static void globalRemove(void*, wl_registry*, std::uint32_t) {}

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  zxdg_output_manager_v1* xdgOutputs_ = nullptr;
  zwlr_screencopy_manager_v1* screencopy_ = nullptr;
  wl_shm* shm_ = nullptr;
  std::vector<std::string> interfaces_;
  std::vector<std::unique_ptr<Output>> outputs_;
};

}  // namespace mirlet::wayland
