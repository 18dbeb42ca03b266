#pragma once

#include <memory>

#include "mirlet/platform/stop_signals.hpp"

namespace mirlet::posix {

// Blocked in every thread, taken through a signalfd.
std::unique_ptr<StopSignals> makeStopSignals();

}  // namespace mirlet::posix
