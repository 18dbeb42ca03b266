#pragma once
// What the capture does when nothing has been heard for a while: a pure decision, given the time,
// the stream's age and its last audio.
//
// A working stream delivers every fragment (100 ms). One that has delivered nothing for a second
// has stalled, or there is no stream at all: silence stands in, in step with the clock, so that
// the recording has no holes in time. A stream still silent after three seconds is made again: a
// stream can be ready and linked to nothing (on PipeWire the session manager can leave a new
// stream unlinked, and a patchbay can cut its link; nothing tells the client, and that stream
// never delivers again). The longest quiet a working stream has is PulseAudio's idle null sink
// rendering ahead: its first fragment came 2.0 s after the stream was ready.
//
// Quiet is only taken for a stall once the loop has had a turn to read: when this thread itself
// was held up (the process stopped with SIGSTOP, a starved machine), the server kept what played
// meanwhile, and its first tick back comes before that audio is read. Silence put in then, with
// the audio after it, made a file 2 s longer than the wall clock after a 2 s stop.

#include <algorithm>
#include <cstdint>
#include <optional>

namespace mirlet::pulse::watchdog {

inline constexpr std::int64_t kStallNanoseconds = 1'000'000'000;
inline constexpr std::int64_t kRemakeNanoseconds = 3'000'000'000;
// While silence stands in, it goes out this often.
inline constexpr std::int64_t kTickNanoseconds = 100'000'000;
// The turn given to what waits unread before quiet counts.
inline constexpr std::int64_t kLookAgainNanoseconds = 20'000'000;

enum class Action {
  wait,     // the stream delivers: nothing to do until `nextAt`
  silence,  // silence up to now, and again at `nextAt`
  remake,   // silence up to now, and a new stream in place of the silent one
  lookAgain,  // quiet since the last tick: decide again at `nextAt`, after the loop has read
};

struct Decision {
  Action action;
  std::int64_t nextAt;
};

// `streamMadeAt`: when the current stream was asked for, none without a stream; `lastAudioAt`:
// when audio last arrived from any stream, none before the first; `quietBefore`: the tick before
// this one did not wait. All on the monotonic clock.
inline Decision decide(std::int64_t now, std::optional<std::int64_t> streamMadeAt,
                       std::optional<std::int64_t> lastAudioAt, bool quietBefore) {
  if (!streamMadeAt) return {Action::silence, now + kTickNanoseconds};
  // What an earlier stream delivered says nothing about this one.
  const std::int64_t quietSince =
      lastAudioAt ? std::max(*lastAudioAt, *streamMadeAt) : *streamMadeAt;
  if (lastAudioAt && *lastAudioAt >= *streamMadeAt && now - *lastAudioAt <= kStallNanoseconds)
    return {Action::wait, *lastAudioAt + kStallNanoseconds};
  if (!quietBefore) return {Action::lookAgain, now + kLookAgainNanoseconds};
  if (now - quietSince > kRemakeNanoseconds) return {Action::remake, now + kTickNanoseconds};
  return {Action::silence, now + kTickNanoseconds};
}

}  // namespace mirlet::pulse::watchdog
