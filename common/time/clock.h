#pragma once

#include <cstdint>

// The clock and the pause, behind one interface so that poll and time-out
// logic can be tested without real waits. SystemClock is the real one; tests
// use a fake that advances its time when asked to pause.
class Clock {
 public:
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;

  // Milliseconds on a clock that never steps backwards; only differences of
  // two readings mean anything.
  virtual int64_t MonotonicMillis() = 0;

  // Blocks for the given milliseconds (whole seconds first, then the rest).
  // Zero or a negative time returns at once.
  virtual void Pause(int32_t millis) = 0;
};
