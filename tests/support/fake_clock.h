#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/time/clock.h"

// A clock for tests: time stands still until a pause or Advance moves it.
// Every pause is recorded so tests can assert on the waits a protocol made.
// The time itself may be read from another thread (a service loop under
// test) while the test moves it; the pause record is for one thread.
class FakeClock final : public Clock {
 public:
  int64_t MonotonicMillis() override { return now_.load(); }
  void Pause(int32_t millis) override {
    pauses_.push_back(millis);
    if (millis > 0) now_ += millis;
  }

  void Advance(int64_t millis) { now_ += millis; }
  const std::vector<int32_t>& pauses() const { return pauses_; }
  void ClearPauses() { pauses_.clear(); }

 private:
  std::atomic<int64_t> now_{1000000};
  std::vector<int32_t> pauses_;
};
