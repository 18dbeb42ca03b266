#pragma once
// Owners for the libpulse objects that one snapshot uses: the context goes (disconnected) before
// the main loop it runs on, and an operation is cancelled before it is let go, so no callback
// can reach a collector that is gone.

#include <pulse/context.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>

#include <memory>

namespace mirlet::pulse {

struct MainloopFree {
  void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextDisconnect {
  void operator()(pa_context* context) const {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
};
struct OperationCancel {
  void operator()(pa_operation* operation) const {
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
  }
};

using Mainloop = std::unique_ptr<pa_mainloop, MainloopFree>;
using Context = std::unique_ptr<pa_context, ContextDisconnect>;
using Operation = std::unique_ptr<pa_operation, OperationCancel>;

}  // namespace mirlet::pulse
