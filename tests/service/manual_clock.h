#pragma once

#include <atomic>
#include <cstdint>

#include "common/time/clock.h"

// A clock that only moves when a test moves it, safe to read from the
// service's thread while the test thread advances it.
class ManualClock final : public Clock {
 public:
  int64_t MonotonicMillis() override { return now_.load(); }
  void Pause(int32_t millis) override {
    if (millis > 0) now_ += millis;
  }
  void Advance(int64_t millis) { now_ += millis; }

 private:
  std::atomic<int64_t> now_{1000000};
};
