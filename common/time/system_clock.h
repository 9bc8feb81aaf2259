#pragma once

#include "common/time/clock.h"

// The real clock: CLOCK_MONOTONIC for readings, sleep and usleep for pauses.
class SystemClock final : public Clock {
 public:
  // The process-wide instance; never freed.
  static SystemClock* Instance();

  int64_t MonotonicMillis() override;
  void Pause(int32_t millis) override;
};
