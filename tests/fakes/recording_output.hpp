#pragma once
// An Output that keeps what a command writes and turns the end of the process into an exception,
// so a test can look at both afterwards.

#include <mutex>
#include <string>
#include <string_view>

#include "mirlet/cli/output.hpp"

namespace mirlet::testing {

struct ProcessEnded {
  int status;
};

class RecordingOutput final : public Output {
 public:
  void emit(std::string_view line) override {
    std::lock_guard lock(mutex_);
    stdout_.append(line);
    stdout_ += '\n';
    ++lines_;
  }
  void note(std::string_view text) override {
    std::lock_guard lock(mutex_);
    stderr_.append(text);
  }

  std::string standardOutput() const {
    std::lock_guard lock(mutex_);
    return stdout_;
  }
  std::string standardError() const {
    std::lock_guard lock(mutex_);
    return stderr_;
  }
  // The status of the first end, or -1 while the process would still run.
  int status() const {
    std::lock_guard lock(mutex_);
    return status_;
  }
  int lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 protected:
  void end(int status) override {
    {
      std::lock_guard lock(mutex_);
      if (status_ < 0) status_ = status;
    }
    throw ProcessEnded{status};
  }

 private:
  mutable std::mutex mutex_;
  std::string stdout_;
  std::string stderr_;
  int status_ = -1;
  int lines_ = 0;
};

// Runs `body` and gives the status with which it ended the process, or -1 when it returned.
template <class Body>
int endStatus(Body&& body) {
  try {
    body();
  } catch (const ProcessEnded& ended) {
    return ended.status;
  }
  return -1;
}

}  // namespace mirlet::testing
