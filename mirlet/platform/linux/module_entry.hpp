#pragma once
// For the entry files of the modules: every entry point runs its body through `guard`, so that a
// failure, a thrown exception or an exhausted heap comes back as -1 and a reason, and nothing is
// thrown across into the caller's C frames.

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/result.hpp"

namespace mirlet::module {

inline void writeReason(mirlet_reason* why, std::string_view text) noexcept {
  if (why == nullptr) return;
  const std::size_t length = std::min(text.size(), sizeof why->text - 1);
  std::memcpy(why->text, text.data(), length);
  why->text[length] = '\0';
}

// `body` gives a Result<void>: 0 when it holds, else -1 with its reason.
template <class Body>
int guard(mirlet_reason* why, Body&& body) noexcept {
  try {
    const Result<void> done = body();
    if (done) return 0;
    writeReason(why, done.error());
  } catch (const std::bad_alloc&) {
    writeReason(why, "out of memory");
  } catch (const std::exception& error) {
    writeReason(why, error.what());
  } catch (...) {
    writeReason(why, "unexpected failure");
  }
  return -1;
}

// For the entry points that cannot report: whatever goes wrong stays inside.
template <class Body>
void quietly(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace mirlet::module
