#pragma once

namespace mirlet {

// Whether this process may capture the screen.
class ScreenAccess {
 public:
  virtual ~ScreenAccess() = default;
  // Answers without ever asking the user.
  virtual bool preflight() = 0;
  // Answers, asking the user first where the system does that.
  virtual bool request() = 0;
};

}  // namespace mirlet
