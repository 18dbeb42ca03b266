#pragma once

#include <functional>
#include <initializer_list>

namespace mirlet {

// The main thread's loop: it serves the main queue (tasks posted from any thread) and the signal
// watchers.
class RunLoop {
 public:
  virtual ~RunLoop() = default;

  // Holds back `signals` in the calling thread and in every thread it starts afterwards, so that
  // they stay pending instead of ending the process, until a watcher takes them. Called on the
  // main thread before any other thread exists.
  virtual void holdSignals(std::initializer_list<int> signals) = 0;

  // Runs on the calling (main) thread for the rest of the process's life.
  virtual void run() = 0;

  // Queues `task` to run on the main thread; callable from any thread.
  virtual void post(std::function<void()> task) = 0;

  // From now on each delivery of `signal`, a held one included, runs `handler` on the main thread.
  // Callable from any thread.
  virtual void watchSignal(int signal, std::function<void()> handler) = 0;
};

// Runs work on worker threads, never the main one.
class TaskExecutor {
 public:
  virtual ~TaskExecutor() = default;
  virtual void async(std::function<void()> work) = 0;
};

}  // namespace mirlet
