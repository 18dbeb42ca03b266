#pragma once
// SIGINT and SIGTERM: the two ways to stop a recording.

namespace mirlet {

class StopSignals {
 public:
  virtual ~StopSignals() = default;
  // From here on both signals wait, pending, until `wait` takes one; neither ends the process by
  // itself. Called before any other thread starts, so that every thread holds them back.
  virtual void hold() = 0;
  // Returns once one of them has come (at once when one is pending), or once `descriptor` has
  // become readable.
  virtual void wait(int descriptor) = 0;
};

}  // namespace mirlet
