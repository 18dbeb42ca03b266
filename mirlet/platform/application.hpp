#pragma once

namespace mirlet {

class Application {
 public:
  virtual ~Application() = default;
  // An accessory: no dock icon, no menu bar, never the active application.
  virtual void setAccessoryActivationPolicy() = 0;
};

}  // namespace mirlet
