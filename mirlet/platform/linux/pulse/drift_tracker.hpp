#pragma once
// How fast an output's clock runs against the monotonic clock, from when its audio arrives.
//
// Every output renders on a clock of its own: PipeWire's null sink runs about 300 ppm slow, so
// its monitor delivers 18 ms a minute less than the wall clock lasts. Each buffer's arrival says
// how far the stream lags the clock: the time since the run began, in frames, less the frames
// that came. Arrival is only ever delayed (by the scheduler, by the server), never early, so the
// least lag of a few seconds is the stream's own; a line through the last minute of those gives
// the rate. Four seconds, not one: on PipeWire's server a second's least lag was often 1-3 ms
// above the stream's own, which the line read as drift of ±40 ppm over half a minute.
//
// A lag that jumps and stays is audio lost (a stall that dropped what played, an outage): no part
// of the rate, so the line moves by it. A lag that jumps and comes back (a stalled server's burst
// catching up) is neither: within its stretch of time an on-time arrival keeps the least lag where
// it was.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>

namespace mirlet::pulse {

class DriftTracker {
 public:
  explicit DriftTracker(int sampleRate) : sampleRate_(sampleRate) {}

  // A new run: nothing known of its clock.
  void reset() { *this = DriftTracker(sampleRate_); }

  // `frames` frames of the run arrived at `now` (monotonic nanoseconds).
  void arrived(std::int64_t now, std::int64_t frames) {
    if (!started_) {
      started_ = true;
      start_ = now;
    }
    received_ += frames;
    const std::int64_t elapsed = now - start_;
    const double lag = static_cast<double>(elapsed) * sampleRate_ / 1e9 -
                       static_cast<double>(received_) - offset_;
    const std::int64_t bin = elapsed / kBinNanoseconds;
    if (bin != binIndex_) {
      if (binIndex_ >= 0) closeBin();
      binIndex_ = bin;
      bin_ = {static_cast<double>(elapsed) / 1e9, lag};
    } else if (lag < bin_.lag) {
      bin_ = {static_cast<double>(elapsed) / 1e9, lag};
    }
  }

  // How much faster than the monotonic clock the output runs, in parts per million (negative:
  // slower); 0 until a few seconds of the run are known.
  double ppm() const {
    if (points_.size() < kSettlePoints) return 0;
    return -slope() / sampleRate_ * 1e6;
  }

  // The audio the run lost, in frames, as jumps in its lag that stayed.
  double lostFrames() const { return lost_; }

 private:
  struct Point {
    double seconds;  // since the run began
    double lag;      // frames
  };

  static constexpr std::int64_t kBinNanoseconds = 4'000'000'000;
  static constexpr std::size_t kWindowPoints = 16;
  static constexpr std::size_t kSettlePoints = 4;
  // A least lag this far off the line is a jump, not drift: 1000 ppm moves it by 4 ms a stretch,
  // and the least of forty arrivals wanders by well under a millisecond.
  static constexpr double kJumpSeconds = 0.015;

  void closeBin() {
    if (points_.size() < 2) return points_.push_back(bin_);
    const double off = bin_.lag - predicted(bin_.seconds);
    if (std::abs(off) <= kJumpSeconds * sampleRate_) {
      suspect_ = false;
      return add(bin_);
    }
    if (!suspect_ || (off > 0) != (suspectOff_ > 0)) {
      // One stretch off the line may be a burst still on its way: the next one tells.
      suspect_ = true;
      suspectOff_ = off;
      return;
    }
    // Two stretches off the same way: audio lost (or, below zero, more came than the time allows,
    // as when a server renders ahead). The line moves by the smaller of the two.
    const double step = std::abs(off) < std::abs(suspectOff_) ? off : suspectOff_;
    suspect_ = false;
    offset_ += step;
    if (step > 0) lost_ += step;
    add({bin_.seconds, bin_.lag - step});
  }

  void add(Point point) {
    points_.push_back(point);
    if (points_.size() > kWindowPoints) points_.pop_front();
  }

  double predicted(double seconds) const {
    const auto [slope, intercept] = fit();
    return intercept + slope * seconds;
  }

  double slope() const { return fit().first; }

  // Least squares through the points: frames of lag a second, and the lag at the run's start.
  std::pair<double, double> fit() const {
    const double n = static_cast<double>(points_.size());
    double st = 0, sl = 0;
    for (const Point& p : points_) {
      st += p.seconds;
      sl += p.lag;
    }
    const double mt = st / n, ml = sl / n;
    double stt = 0, stl = 0;
    for (const Point& p : points_) {
      stt += (p.seconds - mt) * (p.seconds - mt);
      stl += (p.seconds - mt) * (p.lag - ml);
    }
    const double slope = stt > 0 ? stl / stt : 0;
    return {slope, ml - slope * mt};
  }

  int sampleRate_;
  bool started_ = false;
  std::int64_t start_ = 0;
  std::int64_t received_ = 0;
  double offset_ = 0;  // the jumps so far, taken out of every later lag
  double lost_ = 0;
  std::int64_t binIndex_ = -1;
  Point bin_{};  // the least lag of the current stretch of time
  bool suspect_ = false;
  double suspectOff_ = 0;
  std::deque<Point> points_;
};

}  // namespace mirlet::pulse
