#pragma once

#include <memory>

#include "mirlet/platform/stop_signals.hpp"

namespace mirlet::posix {

// Blocked in every thread, taken with sigwaitinfo.
std::unique_ptr<StopSignals> makeStopSignals();

}  // namespace mirlet::posix
