#pragma once

#include <memory>

#include "mirlet/platform/run_loop.hpp"

namespace mirlet::posix {

// A run loop over epoll: an eventfd wakes it for posted tasks, a signalfd delivers watched signals.
std::unique_ptr<RunLoop> makeRunLoop();

// Each piece of work on a thread of its own.
std::unique_ptr<TaskExecutor> makeThreadExecutor();

}  // namespace mirlet::posix
