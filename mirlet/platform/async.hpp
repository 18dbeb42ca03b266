#pragma once
// How asynchronous platform operations hand back their outcome.
//
// An operation that completes later takes a Completion and calls it exactly once, with a value or
// an Error, from whatever thread it likes. The waiting command blocks its own worker thread in
// `await` and looks at the error first.

#include <atomic>
#include <condition_variable>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace mirlet {

// A platform failure, carrying the platform's own description of it.
struct Error {
  std::string description;
};

template <class T>
using Result = std::expected<T, Error>;

template <class T>
using Completion = std::function<void(Result<T>)>;

inline std::unexpected<Error> failure(std::string description) {
  return std::unexpected(Error{std::move(description)});
}

// Wraps a completion so that only its first call gets through. Backends whose error and success
// paths can race use this to keep the exactly-once promise.
template <class T>
Completion<T> once(Completion<T> completion) {
  auto called = std::make_shared<std::atomic<bool>>(false);
  auto shared = std::make_shared<Completion<T>>(std::move(completion));
  return [called, shared](Result<T> result) {
    if (!called->exchange(true)) (*shared)(std::move(result));
  };
}

// Starts an operation and blocks the calling worker thread until its completion has run. Never
// called on the main thread: the main thread serves the run loop, which completions may need.
template <class T, class Start>
Result<T> await(Start&& start) {
  struct Slot {
    std::mutex mutex;
    std::condition_variable ready;
    std::optional<Result<T>> result;
  };
  auto slot = std::make_shared<Slot>();
  start(once<T>([slot](Result<T> result) {
    std::lock_guard lock(slot->mutex);
    slot->result.emplace(std::move(result));
    slot->ready.notify_all();
  }));
  std::unique_lock lock(slot->mutex);
  slot->ready.wait(lock, [&] { return slot->result.has_value(); });
  return std::move(*slot->result);
}

}  // namespace mirlet
